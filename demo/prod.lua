-- Quillmere demo: a glass bloom over the grid, a ring of towers and a drifting helix of
-- lines, with a camera that flies through the scene on a timeline.
--
-- The host calls update() and then render() once per frame at a fixed step, so the frame
-- counter is the clock: 100 frames are about a second on a fast machine, and the show stays
-- in step with itself on a slow one.

dofile("scene.lua")   -- the shapes: Bloom, Towers, Helix, Sparks
dofile("camera.lua")  -- the camera timeline: CameraShot

-- Kept when a save reloads the script, so the show goes on where it was.
frame = frame or 0

function update()
  frame = frame + 1
  CameraShot(frame)
end

function render()
  local t = frame * 0.01
  Towers(t)
  Helix(t)
  Bloom(t)
  Sparks(t)
end
