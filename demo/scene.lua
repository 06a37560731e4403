-- The shapes of the demo. Each draws itself for a time t (seconds of the music) with
-- beginTriGL/vectorGL/colorGL/endGL triangles, drawLine lines or a mesh; the ones that move with the
-- music take a pulse that is 1 on its beats and falls to 0 between them.
-- The grid spans x and z from 0 to 400 at height 0; the scene stands around its middle.

local sin, cos, pi = math.sin, math.cos, math.pi
local CX, CZ = 200, 200

-- A colour wheel: hue 0..1 to r, g, b in 0..255.
local function Hue(h)
  h = (h % 1) * 6
  local i = math.floor(h)
  local f = h - i
  local q, p = 255 * (1 - f), 255 * f
  if i == 0 then return 255, p, 0
  elseif i == 1 then return q, 255, 0
  elseif i == 2 then return 0, 255, p
  elseif i == 3 then return 0, q, 255
  elseif i == 4 then return p, 0, 255
  else return 255, 0, q end
end

-- A bloom of translucent petals that opens and closes above the centre of the grid, and
-- lifts on every bar. Alpha blending lets the petals behind shine through the ones in front.
function Bloom(t, bar)
  local petals, rings = 14, 10
  local open = 0.55 + 0.45 * sin(t * 0.7)
  local height = 70 + 10 * sin(t * 1.3) + 15 * bar
  beginTriGL()
  for p = 0, petals - 1 do
    local a0 = p / petals * 2 * pi + t * 0.4
    local a1 = a0 + 2 * pi / petals * 0.8
    local r, g, b = Hue(p / petals + t * 0.05)
    for k = 0, rings - 1 do
      local s0, s1 = k / rings, (k + 1) / rings
      local w0 = 90 * s0 * open
      local w1 = 90 * s1 * open
      local y0 = height + 40 * s0 * s0 * (1 - open) + 25 * sin(s0 * pi)
      local y1 = height + 40 * s1 * s1 * (1 - open) + 25 * sin(s1 * pi)
      colorGL(r, g, b, 40 + 150 * s1)
      vectorGL(CX + w0 * cos(a0), y0, CZ + w0 * sin(a0))
      vectorGL(CX + w1 * cos(a0), y1, CZ + w1 * sin(a0))
      vectorGL(CX + w1 * cos(a1), y1, CZ + w1 * sin(a1))
      vectorGL(CX + w0 * cos(a0), y0, CZ + w0 * sin(a0))
      vectorGL(CX + w1 * cos(a1), y1, CZ + w1 * sin(a1))
      vectorGL(CX + w0 * cos(a1), y0, CZ + w0 * sin(a1))
    end
  end
  endGL()
end

-- A ring of towers whose heights ripple like an equaliser and jump on every beat. Every face
-- of every tower is one mesh, a unit square in the current colour, moved into place by the
-- transform stack; built once, so a reload keeps it.
Square = Square or newMesh({0, 0, 0,  1, 0, 0,  1, 1, 0,   0, 0, 0,  1, 1, 0,  0, 1, 0}, "xyz")

function Towers(t, beat)
  local count, radius = 24, 150
  for i = 0, count - 1 do
    local a = i / count * 2 * pi
    local h = 20 + 35 * (0.5 + 0.5 * sin(t * 2 + i * 0.7)) + 25 * beat
    local r, g, b = Hue(0.55 + 0.15 * sin(t + i * 0.3))
    pushMatrix()
    -- the tower's own x points out from the centre, z along the ring; 7 wide each way
    translate(CX + radius * cos(a), 0, CZ + radius * sin(a))
    rotate(-a, 0, 1, 0)
    scale(7, h, 7)
    -- front face, facing the centre
    colorGL(r * 0.7, g * 0.7, b * 0.7, 230)
    pushMatrix() translate(-1, 0, -1) rotate(-pi / 2, 0, 1, 0) scale(2, 1, 1) drawMesh(Square) popMatrix()
    -- the two side faces, darker
    colorGL(r * 0.42, g * 0.42, b * 0.42, 230)
    for side = -1, 1, 2 do
      pushMatrix() translate(-1, 0, side) scale(2, 1, 1) drawMesh(Square) popMatrix()
    end
    -- a glowing cap, brightest on the beat
    colorGL(255, 255, 255, 120 + 135 * beat)
    pushMatrix() translate(-1, 1, -1) rotate(pi / 2, 1, 0, 0) scale(2, 2, 1) drawMesh(Square) popMatrix()
    popMatrix()
  end
end

-- A double helix of white lines that winds up through the bloom.
function Helix(t)
  local steps = 90
  local px1, py1, pz1, px2, py2, pz2
  for i = 0, steps do
    local s = i / steps
    local a = s * 6 * pi + t * 1.5
    local r = 25 + 10 * sin(s * pi * 2 + t)
    local y = 5 + s * 150
    local x1, z1 = CX + r * cos(a), CZ + r * sin(a)
    local x2, z2 = CX - r * cos(a), CZ - r * sin(a)
    if px1 then
      drawLine(px1, py1, pz1, x1, y, z1)
      drawLine(px2, py2, pz2, x2, y, z2)
      if i % 6 == 0 then drawLine(x1, y, z1, x2, y, z2) end
    end
    px1, py1, pz1, px2, py2, pz2 = x1, y, z1, x2, y, z2
  end
end

-- Sparks that rise from the towers and fade, as small coloured triangles.
function Sparks(t)
  local count = 160
  beginTriGL()
  for i = 0, count - 1 do
    local seed = i * 12.9898
    local a = (seed % (2 * pi)) + t * 0.1
    local life = (t * 0.25 + (seed * 0.137) % 1) % 1
    local radius = 150 - 110 * life
    local x, z = CX + radius * cos(a), CZ + radius * sin(a)
    local y = 10 + 160 * life
    local size = 3 * (1 - life) + 1
    local r, g, b = Hue(0.08 + 0.1 * life)
    colorGL(r, g, b, 255 * (1 - life))
    vectorGL(x - size, y, z)
    vectorGL(x + size, y, z)
    vectorGL(x, y + size * 2, z)
  end
  endGL()
end
