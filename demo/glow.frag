// The bloom's halo: the bloom drawn small into iChannel0, spread over two rings of taps around
// each pixel and laid over the scene, as thick as the music asks (strength).
uniform float strength;

void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    vec2 uv = fragCoord / iResolution.xy;
    vec2 texel = 1.0 / vec2(textureSize(iChannel0, 0));
    vec3 sum = texture(iChannel0, uv).rgb;
    for (int i = 0; i < 8; i++) {
        float a = float(i) * 0.785398;
        vec2 d = vec2(cos(a), sin(a)) * texel;
        sum += texture(iChannel0, uv + d * 3.0).rgb * 0.8;
        sum += texture(iChannel0, uv + d * 7.0).rgb * 0.45;
    }
    vec3 glow = sum / 6.0;
    float amount = clamp(max(glow.r, max(glow.g, glow.b)) * strength, 0.0, 0.8);
    fragColor = vec4(min(glow * 1.5 + 0.15, 1.0), amount);
}
