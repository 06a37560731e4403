-- The peer side of the drawing comparison: the same window size as the program's view, vsync
-- off, nothing but graphics. scripts/bench passes the size and the triangle count.
function love.conf(t)
  t.identity = "quillmere-bench"
  t.window.title = "bench"
  t.window.width = tonumber(os.getenv("QMB_WIDTH")) or 1258
  t.window.height = tonumber(os.getenv("QMB_HEIGHT")) or 755
  t.window.vsync = 0
  t.window.msaa = 0
  t.modules.audio = false
  t.modules.sound = false
  t.modules.joystick = false
  t.modules.physics = false
  t.modules.touch = false
  t.modules.video = false
end
