// The soak's buttons: one command each (the calibration button twice, by
// mode), how often each is pressed, and the values typed for the writes.
#pragma once

#include "pendingreplies.h"

#include <QString>
#include <array>
#include <cstdint>
#include <random>

enum class Cmd {
    GetNoise,
    GetSN,
    GetVersion,
    GetDeviceAddr,
    SetDeviceAddr,
    CalibrateRead,
    CalibrateWrite,
    GetOrigin,
    GetCaliParam,
    SetCaliParam,
    FactoryReset,
    ToOwn,
    ToModbus,
    GetInfo,
    SetID,
    GetCaliParamVela,
    SetCaliParamVela,
};

struct CmdInfo {
    Cmd cmd;
    const char *button;
    bool query; // a Modbus query: raises `flag`
    Query flag;
    bool ownFrames; // sends own-protocol frames (else Modbus)
    int requests;   // frames it sends
    const char *name;
};

const CmdInfo &info(Cmd cmd);

// A command picked at random from the mix that fits the protocol the
// simulator answers; commands of the other protocol come now and then too.
Cmd pickCommand(bool ownProtocol, std::mt19937 &rng);

// Values typed for a write, as text and as the sensor will hold them. The
// window sends exactly what it accepts; text it refuses is the business of
// the refused-input tests, so only values that fit are typed here.
struct TypedInputs {
    int address = 1;
    int offset = 0;
    int factor = 0;
    std::array<int32_t, 3> params{}; // hundredths
    std::array<QString, 3> paramTexts;
    uint32_t identity = 0;
};
TypedInputs typeInputs(std::mt19937 &rng);
