-- The words of the demo, timed by its music: the title over the lead-in and the first section,
-- the credits scrolling along the bottom from the second section to the end, and the last words
-- standing in the world over the bloom while the music fades.

local TITLE_FONT = newFont(96)
local SUB_FONT = newFont(30)
local SCROLL_FONT = newFont(34)
local WORLD_FONT = newFont(64)

local CREDITS = "QUILLMERE   \226\128\162   code and scene: the Quillmere developers   \226\128\162   "
  .. "music: Ondrelle, made by demo/make-soundtrack   \226\128\162   "
  .. "drawn with Lua, OpenGL and Qt   \226\128\162   greetings to every demo maker out there   \226\128\162   "
local SCROLL_SPEED = 150           -- pixels a second
local SCROLL_FROM = BAR + 8 * BAR  -- the second section

-- 0 before from, rising to 1 over rise seconds, falling to 0 over the rise before to.
local function Envelope(t, from, to, rise)
  return math.max(0, math.min(1, (t - from) / rise, (to - t) / rise))
end

local function Title(t, w, h)
  local fade = Envelope(t, 0.5, BAR + 8 * BAR, 2 * BEAT)
  if fade == 0 then
    return
  end
  colorGL(255, 236, 200, 255 * fade)
  drawText(TITLE_FONT, "Quillmere", 0, h * 0.2, "center", w)
  colorGL(200, 220, 255, 200 * fade)
  drawText(SUB_FONT, "a demo in Lua, to the music of Ondrelle", 0, h * 0.2 + TITLE_FONT:getHeight(), "center", w)
end

local function Scroller(t, w, h)
  local fade = Envelope(t, SCROLL_FROM, math.huge, BEAT)
  if fade == 0 then
    return
  end
  local span = SCROLL_FONT:getWidth(CREDITS)
  local x = w - ((t - SCROLL_FROM) * SCROLL_SPEED) % span
  colorGL(255, 255, 255, 230 * fade)
  -- Twice, so that the line's start follows its end without a gap.
  drawText(SCROLL_FONT, CREDITS, x, h - 1.6 * SCROLL_FONT:getHeight())
  drawText(SCROLL_FONT, CREDITS, x - span, h - 1.6 * SCROLL_FONT:getHeight())
end

local function LastWords(t)
  local length = getMusicLength()
  local fade = length > 0 and Envelope(t, length - 4 * BAR, length + BAR, 2 * BAR) or 0
  if fade == 0 then
    return
  end
  local height = 14
  pushMatrix()
  translate(200, 120, 200)
  rotate(t * 0.2, 0, 1, 0)
  translate(-WORLD_FONT:getWidth("thank you") / WORLD_FONT:getHeight() * height / 2, 0, 0)
  colorGL(255, 220, 160, 255 * fade)
  drawText3D(WORLD_FONT, "thank you", height)
  popMatrix()
end

function Titles(t)
  local w, h = getViewSize()
  LastWords(t)
  Title(t, w, h)
  Scroller(t, w, h)
end
