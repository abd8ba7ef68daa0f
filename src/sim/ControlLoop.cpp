#include "sim/ControlLoop.h"

#include <algorithm>
#include <cmath>

namespace ControlLoop {

Gains gains(const std::array<std::int32_t, 256>& values, ParameterCatalogue::Loop loop,
            double speed, const Scaling& scaling)
{
    using namespace ParameterCatalogue;
    const auto numbers = pidNumbers(loop);
    const auto value = [&](PidField field) {
        return double(values[static_cast<size_t>(numbers[static_cast<size_t>(field)])]);
    };
    const bool second = std::abs(speed) >= value(ThresholdSpeed);
    Gains gains;
    gains.p = value(second ? PSet2 : PSet1) * scaling.p;
    gains.i = value(second ? ISet2 : ISet1) * scaling.i;
    gains.d = value(second ? DSet2 : DSet1) * scaling.d;
    gains.clipping = value(second ? IClippingSet2 : IClippingSet1) * scaling.clipping;
    return gains;
}

double update(State& state, const Gains& gains, double error, double dt, double offset,
              double limit)
{
    const double proportional = offset + gains.p * error + gains.d * (error - state.lastError);
    state.lastError = error;
    const double integral =
        std::clamp(state.integral + gains.i * error * dt, -gains.clipping, gains.clipping);
    const double output = proportional + integral;
    const bool drivenFurther = std::abs(integral) > std::abs(state.integral) &&
                               ((output > limit && error > 0) || (output < -limit && error < 0));
    if (!drivenFurther)
        state.integral = integral;
    return std::clamp(proportional + state.integral, -limit, limit);
}

} // namespace ControlLoop
