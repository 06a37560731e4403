-- The demo hears its soundtrack: its kick and its bass, read from the music's analysis at the
-- music's time, so that they land where they are heard in the window and in a capture alike.

-- 1 for a moment after each kick (and the bass note struck with it), 0 between.
function Kick()
  return math.min(1, 2.5 * getMusicOnset(40, 120))
end

-- How loud the bass is, 0..1, stretched over the range it moves in when it plays.
function Bass()
  return math.max(0, math.min(1, (getMusicBand(50, 160) - 0.55) / 0.35))
end
