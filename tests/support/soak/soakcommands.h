// The soak's buttons: one command each (the calibration button twice, by
// mode), how often each is pressed, and the values typed for the writes.
#pragma once

#include "options.h"
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

// The sensor the soaks run against: settings unlike the simulator's
// defaults, so that every value shown can only have come from these, and no
// drift, so that a query's value is the same each time.
SimOptions soakSensor(uint32_t seed);

// While it lives, the simulator's frame log and the window's debug line per
// tick are silenced (and the offscreen platform's warning per message box):
// a soak would drown in them.
class QuietSoak
{
  public:
    QuietSoak();
    ~QuietSoak();
    QuietSoak(const QuietSoak &) = delete;
    QuietSoak &operator=(const QuietSoak &) = delete;
};
