// How a window's value range is cut into classes.
#pragma once

namespace quorvel {

enum class Binning {
    EqualFrequency,  // classes holding (nearly) equal numbers of values
    EqualWidth,      // classes of equal width
};

// The module's binning mode: 1 for equal-frequency classes, any other value for equal widths.
inline Binning binningOf(int mode) {
    return mode == 1 ? Binning::EqualFrequency : Binning::EqualWidth;
}

}  // namespace quorvel
