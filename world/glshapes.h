#pragma once
// Immediate-mode wire and solid shapes centred on the origin, drawn with the current colour
// and matrices.

// A cube with the given edge length.
void WireCube(double size);
void SolidCube(double size);
// Latitude rings between the poles (stacks - 1 of them) and slices meridians from pole to pole.
void WireSphere(double radius, int slices, int stacks);
