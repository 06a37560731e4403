-- Quillmere demo: a glass bloom over the grid, a ring of towers and a drifting helix of
-- lines, with a camera that flies through the scene on a timeline, a title and credits.
--
-- The scene keeps time by its music: getMusicTime() is where the soundtrack is, in seconds, so
-- the show stays with the music on any machine, stands still while it is paused (F5) and
-- follows its jumps (F6, F7). The beat is the one demo/make-soundtrack writes: 100 beats a
-- minute, four to a bar, counted from the start of the music.

dofile("scene.lua")   -- the shapes: Bloom, Towers, Helix, Sparks
dofile("camera.lua")  -- the camera timeline: CameraShot
dofile("glow.lua")    -- the bloom's halo, a shader pass: Glow
dofile("listen.lua")  -- what the music sounds like: Kick, Bass

BEAT = 0.6
BAR = 4 * BEAT

dofile("titles.lua")  -- the title, the credits scroller and the last words: Titles

-- 1 on each beat of that period, falling away before the next.
function Pulse(t, period)
  return (1 - (t % period) / period) ^ 4
end

function update()
  CameraShot(getMusicTime())
end

function render()
  local t = getMusicTime()
  -- The towers jump on each beat and higher on the kick; the bloom lifts on each bar and with
  -- the bass.
  Towers(t, math.max(0.5 * Pulse(t, BEAT), Kick()))
  Helix(t)
  Bloom(t, math.max(Pulse(t, BAR), Bass()))
  Sparks(t)
  Glow(t, Pulse(t, BAR))
  Titles(t)
end
