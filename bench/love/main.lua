-- N coloured triangles a frame, generated in Lua, each drawn with setColor and polygon, in a
-- field about as large on screen as the program's. Prints the median whole-frame time in ms.
-- With QMB_MESH set, the same triangles are one static love.graphics.newMesh drawn in one call.
-- With QMB_TEXT set, no triangles: the text bench's 5,000 glyphs, by print; QMB_TEXT=line for
-- its scroller of one line along the bottom, anything else for its 50 lines all in the window.
local N = tonumber(os.getenv("QMB_TRIANGLES")) or 10000
local MESH = (os.getenv("QMB_MESH") or "") ~= ""
local TEXT = (os.getenv("QMB_TEXT") or "") ~= ""
local LINE = os.getenv("QMB_TEXT") == "line"
local font, scroller, span
local mesh
local FRAMES = tonumber(os.getenv("QMB_FRAMES")) or 200
local WARMUP = 20
local SPREAD = 150   -- half-size of the field in pixels
local SIZE = 18      -- how far a corner may lie from the triangle's first one

local triangles = {}
local frameTimes = {}
local lastTime
local frames = 0

local state = 12345
local function Next()
  state = (state * 1664525 + 1013904223) % 4294967296
  return math.floor(state / 256) / 16777216
end

-- The same 50 lines of 100 characters as bench/textbench.cpp.
local function Scroller()
  local words = {'quill', 'mere', 'scroller', 'glyph', 'demo', 'Lua', 'party', 'greetings'}
  local lines = {}
  for l = 1, 50 do
    local line = ''
    local w = l
    while #line < 100 do line = line .. words[w % #words + 1] .. ' ' w = w + 3 end
    lines[l] = line:sub(1, 100)
  end
  return table.concat(lines, '\n')
end

function love.load()
  if TEXT then
    font = love.graphics.newFont(LINE and 34 or 14)
    scroller = Scroller()
    if LINE then
      scroller = scroller:gsub("\n", " ")
      span = font:getWidth(scroller)
    end
    N = 0
  end
  local cx, cy = love.graphics.getWidth() / 2, love.graphics.getHeight() / 2
  for i = 1, N do
    local x, y = cx + (Next() * 2 - 1) * SPREAD, cy + (Next() * 2 - 1) * SPREAD
    triangles[i] = {
      Next(), Next(), Next(), 0.5 + Next() * 0.5,
      x, y,
      x + (Next() - 0.5) * 2 * SIZE, y + (Next() - 0.5) * 2 * SIZE,
      x + (Next() - 0.5) * 2 * SIZE, y + (Next() - 0.5) * 2 * SIZE,
    }
  end
  if MESH then
    mesh = love.graphics.newMesh(3 * N, "triangles", "static")
    for i = 1, N do
      local t = triangles[i]
      for v = 0, 2 do
        mesh:setVertex(3 * (i - 1) + v + 1, t[5 + 2 * v], t[6 + 2 * v], 0, 0, t[1], t[2], t[3], t[4])
      end
    end
    triangles = nil
  end
end

function love.update()
  local now = love.timer.getTime()
  if lastTime and frames > WARMUP then
    frameTimes[#frameTimes + 1] = (now - lastTime) * 1000
  end
  lastTime = now
  frames = frames + 1
  if #frameTimes >= FRAMES then
    table.sort(frameTimes)
    io.write(string.format("%.4f\n", frameTimes[math.floor(#frameTimes / 2) + 1]))
    io.flush()
    love.event.quit()
  end
end

function love.draw()
  if TEXT then
    love.graphics.setFont(font)
    if LINE then
      local w, h = love.graphics.getDimensions()
      love.graphics.print(scroller, -((frames * 5) % (span - w)), h - 1.6 * font:getHeight())
    else
      love.graphics.print(scroller, 20, -(frames % 100))
    end
    return
  end
  if mesh then
    love.graphics.draw(mesh)
    return
  end
  local setColor, polygon = love.graphics.setColor, love.graphics.polygon
  for i = 1, N do
    local t = triangles[i]
    setColor(t[1], t[2], t[3], t[4])
    polygon("fill", t[5], t[6], t[7], t[8], t[9], t[10])
  end
end
