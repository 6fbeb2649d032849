#pragma once
// Internals of the transition effects that tests reach: the switch between the fast drawing
// and the plain reference drawing every fast result is checked against.

namespace media {

// True: every effect draws the reference way (regions joined, picture drawn clipped).
void SetEffectReferencePath(bool Value);
bool EffectReferencePath();

}  // namespace media
