// The bloom's halo laid over the scene: the spread bloom in iChannel0, stretched over the view, as
// thick as the music asks (strength).
uniform float strength;

void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    vec3 glow = texture(iChannel0, fragCoord / iResolution.xy).rgb;
    float amount = clamp(max(glow.r, max(glow.g, glow.b)) * strength, 0.0, 0.8);
    fragColor = vec4(min(glow * 1.5 + 0.15, 1.0), amount);
}
