-- A halo of light around the bloom, drawn with shaders: the bloom is drawn again, small, into a
-- target of its own, spread into a second one of the same size, and a full-screen pass lays that
-- over the scene. It comes in with the drums and swells on every bar; between the drum sections
-- only a faint haze is left.

local spread, halo = loadShader("spread.frag"), loadShader("glow.frag")
-- Small on purpose: the spreading costs little at this size, and the last pass smooths it out.
GlowTarget = GlowTarget or newTarget(320, 180)
SpreadTarget = SpreadTarget or newTarget(320, 180)
setUniform(spread, "iChannel0", GlowTarget)
setUniform(halo, "iChannel0", SpreadTarget)

-- The music's sections are eight bars long, after a lead-in of one bar; the drums play in the
-- fourth, fifth, seventh and eighth.
local DRUM_SECTIONS = {[4] = true, [5] = true, [7] = true, [8] = true}

local function Strength(t, bar)
  local section = math.floor((t - BAR) / (8 * BAR)) + 1
  if DRUM_SECTIONS[section] then
    return 0.9 + 0.8 * bar
  elseif section >= 3 then
    return 0.35
  end
  return 0
end

function Glow(t, bar)
  local strength = Strength(t, bar)
  if strength == 0 then
    return
  end
  setTarget(GlowTarget)
  Bloom(t, bar)
  setTarget(SpreadTarget)
  drawFullscreen(spread)
  setTarget(nil)
  setUniform(halo, "strength", strength)
  drawFullscreen(halo, "blend")
end
