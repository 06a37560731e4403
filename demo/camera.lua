-- The camera timeline, in seconds of the music. Each shot places the camera with setCamPos and
-- aims it with lookAt or turns it with rotateCam. When you move or turn the camera with the mouse
-- the timeline lets go for a few seconds: it notices because getCamPos or getCamDir no longer
-- returns what it set last.

local sin, cos, pi = math.sin, math.cos, math.pi
local CX, CZ = 200, 200
local SHOT = 19.2                   -- seconds a shot: eight bars of the music
local HANDS_OFF = 5                 -- seconds the timeline waits after the mouse moved the camera

local last                          -- the position and direction the timeline left
local pausedUntil = 0

local function Pose()
  local x, y, z = getCamPos()
  local dx, dy, dz = getCamDir()
  return { x, y, z, dx, dy, dz }
end

local function Moved(a, b)
  for i = 1, 6 do
    if math.abs(a[i] - b[i]) > 1e-6 then return true end
  end
  return false
end

local function Orbit(f)             -- a slow, high circle around the bloom
  local a = f * 0.25
  return CX + 230 * cos(a), 140 + 30 * sin(f * 0.4), CZ + 230 * sin(a), CX, 60, CZ
end

local function Skim(f)              -- low and fast between the towers, looking inwards
  local a = -f * 0.4 + 1
  return CX + 120 * cos(a), 18 + 8 * sin(f), CZ + 120 * sin(a), CX, 70, CZ
end

local function Rise(f)              -- up through the helix, then out over the grid
  local s = f / SHOT
  local a = f * 0.3
  local r = 20 + 260 * s * s
  return CX + r * cos(a), 20 + 220 * s, CZ + r * sin(a), CX, 40 + 40 * s, CZ
end

local shots = { Orbit, Skim, Rise }

function CameraShot(t)
  local now = Pose()
  if last and Moved(now, last) then
    pausedUntil = t + HANDS_OFF
  end
  -- A jump back in the music (F6) ends the wait rather than stretching it.
  if t < pausedUntil and pausedUntil - t <= HANDS_OFF then
    last = now
    return
  end
  local n = math.floor(t / SHOT)
  local shot = shots[n % #shots + 1]
  local cx, cy, cz, tx, ty, tz = shot(t % SHOT)
  setCamPos(cx, cy, cz)
  lookAt(tx, ty, tz)
  -- A gentle sway: rotateCam turns the view by small angles after it has been aimed.
  rotateCam(0.03 * sin(t * 1.1), 0.02 * sin(t * 0.7))
  last = Pose()
end
