#pragma once

namespace cb {

// The window animates every focus change it makes (drill-in, breadcrumb, Up) with one spring:
// response 0.35 s, damping fraction 0.85, no blending. Qt has no spring animation, so the spring
// is reproduced exactly as an easing curve: the step response of a damped harmonic oscillator
// with natural frequency w = 2π / 0.35 and damping ratio z = 0.85,
//   x(t) = 1 - e^(-z w t) (cos(wd t) + z w / wd sin(wd t)),  wd = w sqrt(1 - z²),
// run for kFocusSpringSeconds, by which time it is within about 0.1% of rest. It overshoots its
// target by about 0.6% before settling, as the spring does.

// How long a focus animation runs, in seconds.
inline constexpr double kFocusSpringSeconds = 0.5;

// Returns the spring's position at `seconds` after the change: 0 at the start, 1 from
// kFocusSpringSeconds on (and for any later time), briefly slightly above 1 on the way.
double focusSpringPosition(double seconds);

// The same on a 0..1 progress scale (progress = seconds / kFocusSpringSeconds), in the shape
// QEasingCurve::setCustomType takes.
double focusSpringEasing(double progress);

}  // namespace cb
