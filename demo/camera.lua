-- The camera timeline, in seconds of the music. Each shot places the camera with setCamPos and
-- aims it with lookAt or turns it with rotateCam. When you move the camera with the mouse the
-- timeline lets go for a few seconds: it notices because getCamPos no longer returns the
-- position it set last.

local sin, cos, pi = math.sin, math.cos, math.pi
local CX, CZ = 200, 200
local SHOT = 19.2                   -- seconds a shot: eight bars of the music
local HANDS_OFF = 5                 -- seconds the timeline waits after the mouse moved the camera

local lastX, lastY, lastZ
local pausedUntil = 0

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
  local x, y, z = getCamPos()
  if lastX and (math.abs(x - lastX) + math.abs(y - lastY) + math.abs(z - lastZ)) > 0.01 then
    pausedUntil = t + HANDS_OFF
  end
  -- A jump back in the music (F6) ends the wait rather than stretching it.
  if t < pausedUntil and pausedUntil - t <= HANDS_OFF then
    lastX, lastY, lastZ = x, y, z
    return
  end
  local n = math.floor(t / SHOT)
  local shot = shots[n % #shots + 1]
  local cx, cy, cz, tx, ty, tz = shot(t % SHOT)
  setCamPos(cx, cy, cz)
  lookAt(tx, ty, tz)
  -- A gentle sway: rotateCam turns the view by small angles after it has been aimed.
  rotateCam(0.03 * sin(t * 1.1), 0.02 * sin(t * 0.7))
  lastX, lastY, lastZ = getCamPos()
end
