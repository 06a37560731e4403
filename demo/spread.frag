// The bloom, drawn small into iChannel0, spread over two rings of taps around each of its pixels:
// at this size the taps cost little, and the halo pass that stretches it over the view smooths it.
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    vec2 uv = fragCoord / iResolution.xy;
    vec2 texel = 1.0 / iResolution.xy;
    vec3 sum = texture(iChannel0, uv).rgb;
    for (int i = 0; i < 8; i++) {
        float a = float(i) * 0.785398;
        vec2 d = vec2(cos(a), sin(a)) * texel;
        sum += texture(iChannel0, uv + d * 3.0).rgb * 0.8;
        sum += texture(iChannel0, uv + d * 7.0).rgb * 0.45;
    }
    fragColor = vec4(sum / 6.0, 1.0);
}
