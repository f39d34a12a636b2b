#pragma once

// The two choices a unit offers by name, shared by the control side and the render side.
namespace somnara::dsp {

/// The reverb's factory presets, with the platform's raw values.
enum class ReverbPreset : int {
    smallRoom = 0,
    mediumRoom = 1,
    largeRoom = 2,
    mediumHall = 3,
    largeHall = 4,
    plate = 5,
    mediumChamber = 6,
    largeChamber = 7,
    cathedral = 8,
    largeRoom2 = 9,
    mediumHall2 = 10,
    mediumHall3 = 11,
    largeHall2 = 12,
};

/// The equaliser's filter types, with the platform's raw values.
enum class EQFilterType : int {
    parametric = 0,
    lowPass = 1,
    highPass = 2,
    resonantLowPass = 3,
    resonantHighPass = 4,
    bandPass = 5,
    bandStop = 6,
    lowShelf = 7,
    highShelf = 8,
    resonantLowShelf = 9,
    resonantHighShelf = 10,
};

} // namespace somnara::dsp
