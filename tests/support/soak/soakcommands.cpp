#include "soakcommands.h"

#include "commands.h"
#include "framelog.h"

namespace {

const CmdInfo kCommands[] = {
    {Cmd::GetNoise, "pushButton_GetNoise", true, Query::Noise, false, 1, "noise"},
    {Cmd::GetSN, "pushButton_GetSN", true, Query::SerialNumber, false, 1, "serial number"},
    {Cmd::GetVersion, "pushButton_GetVersion", true, Query::Version, false, 1, "version"},
    {Cmd::GetDeviceAddr, "pushButton_GetDeviceAddr", true, Query::DeviceAddr, false, 1,
     "address read"},
    {Cmd::SetDeviceAddr, "pushButton_SetDeviceAddr", false, Query::Noise, false, 1,
     "address write"},
    {Cmd::CalibrateRead, "pushButton_Calibrate", true, Query::Calibrate, false, 1,
     "calibration read"},
    {Cmd::CalibrateWrite, "pushButton_Calibrate", false, Query::Noise, false, 1,
     "calibration write"},
    {Cmd::GetOrigin, "pushButton_GetOrigin", true, Query::Origin, false, 1, "origin"},
    {Cmd::GetCaliParam, "pushButton_GetCaliParam", true, Query::CaliParam, false, 1,
     "parameter read"},
    {Cmd::SetCaliParam, "pushButton_SetCaliParam", false, Query::Noise, false, 1,
     "parameter write"},
    {Cmd::FactoryReset, "pushButton_SetFactoryConfig", false, Query::Noise, false, 1,
     "factory reset"},
    {Cmd::ToOwn, "pushButton_ChangeToVelaProtocol", false, Query::Noise, false, 1,
     "to own protocol"},
    {Cmd::ToModbus, "pushButton_ChangeToModbus", false, Query::Noise, false, 1, "to Modbus"},
    {Cmd::GetInfo, "pushButton_GetInfo", false, Query::Noise, true, 2, "identity query"},
    {Cmd::SetID, "pushButton_SetID", false, Query::Noise, true, 1, "identity write"},
    {Cmd::GetCaliParamVela, "pushButton_GetCaliParam_Vela", false, Query::Noise, true, 1,
     "own parameter read"},
    {Cmd::SetCaliParamVela, "pushButton_SetCaliParam_Vela", false, Query::Noise, true, 1,
     "own parameter write"},
};

struct Weighted {
    Cmd cmd;
    int weight;
};
const Weighted kModbusMix[] = {
    {Cmd::GetNoise, 4},       {Cmd::GetSN, 3},           {Cmd::GetVersion, 3},
    {Cmd::GetDeviceAddr, 3},  {Cmd::SetDeviceAddr, 3},   {Cmd::CalibrateRead, 3},
    {Cmd::CalibrateWrite, 3}, {Cmd::GetOrigin, 3},       {Cmd::GetCaliParam, 3},
    {Cmd::SetCaliParam, 3},   {Cmd::FactoryReset, 1},    {Cmd::ToModbus, 1},
    {Cmd::ToOwn, 2},          {Cmd::GetCaliParamVela, 1}};
const Weighted kOwnMix[] = {
    {Cmd::GetInfo, 4}, {Cmd::SetID, 3},    {Cmd::GetCaliParamVela, 4}, {Cmd::SetCaliParamVela, 3},
    {Cmd::ToOwn, 1},   {Cmd::ToModbus, 2}, {Cmd::FactoryReset, 1},     {Cmd::GetNoise, 1}};

template <size_t N> Cmd pick(const Weighted (&mix)[N], std::mt19937 &rng)
{
    int total = 0;
    for (const Weighted &w : mix)
        total += w.weight;
    int draw = int(rng() % uint32_t(total));
    for (const Weighted &w : mix) {
        if (draw < w.weight)
            return w.cmd;
        draw -= w.weight;
    }
    return mix[0].cmd;
}

} // namespace

const CmdInfo &info(Cmd cmd)
{
    return kCommands[int(cmd)];
}

Cmd pickCommand(bool ownProtocol, std::mt19937 &rng)
{
    return ownProtocol ? pick(kOwnMix, rng) : pick(kModbusMix, rng);
}

TypedInputs typeInputs(std::mt19937 &rng)
{
    TypedInputs typed;
    typed.address = 1 + int(rng() % 247);
    typed.offset = int(rng() % 511) - 255;
    typed.factor = int(rng() % 256);
    for (size_t i = 0; i < typed.params.size(); ++i) {
        typed.params[i] = int32_t(rng() % 400001) - 200000;
        typed.paramTexts[i] = QString::number(typed.params[i] / 100.0, 'f', 2);
    }
    typed.identity = rng();
    return typed;
}

SimOptions soakSensor(uint32_t seed)
{
    SimOptions options;
    options.config.address = 7;
    options.config.serialNumber = 0x5A17C3E9u;
    options.config.version = {18, 2, 3};
    options.config.caliParams = {{150, -100, 0}};
    const QVector<uint16_t> calibration = calibrationRegisters(-5, 100);
    for (size_t range = 0; range < 3; ++range) {
        options.config.calibration[2 * range] = calibration[0];
        options.config.calibration[2 * range + 1] = calibration[1];
    }
    options.noiseTenths = 456;
    options.driftTenths = 0;
    options.seed = seed;
    return options;
}

namespace {

QtMessageHandler previousHandler = nullptr;

void dropDebug(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || text.contains(QLatin1String("propagateSizeHints")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

QuietSoak::QuietSoak()
{
    previousHandler = qInstallMessageHandler(dropDebug);
    framelog::setEnabled(false);
}

QuietSoak::~QuietSoak()
{
    framelog::setEnabled(true);
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}
