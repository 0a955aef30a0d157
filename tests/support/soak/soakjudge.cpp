#include "soakjudge.h"

#include "decoder.h"
#include "formats.h"
#include "frame.h"
#include "replytexts.h"
#include "sensor.h"
#include "sensormodel.h"

#include <QCoreApplication>

const char *const kFieldNames[kFieldCount] = {"Edit_DeviceID",
                                              "label_softid",
                                              "lineEdit_DeviceAddr",
                                              "lineEdit_CalibrZero",
                                              "lineEdit_CalibrateFactor",
                                              "lineEdit_CaliParamA",
                                              "lineEdit_CaliParamB",
                                              "lineEdit_CaliParamC"};

namespace {

QString translated(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

QString versionText(const FirmwareVersion &version)
{
    return QStringLiteral("%1-%2-%3").arg(version.major).arg(version.minor).arg(version.patch);
}

} // namespace

Shown expectedFor(Cmd cmd, const SensorModel &model, const QVector<SentReply> &replies,
                  const Shown &before)
{
    Shown e = before;
    for (const SentReply &reply : replies) {
        if (!reply.dropped && reply.frame.size() >= 4 && reply.frame.size() <= 17)
            e.log << toHexText(reply.frame).trimmed();
    }
    if (replies.isEmpty())
        return e;
    const SensorConfig &c = model.config();
    const auto confirmAndLog = [&e](const char *source) {
        e.boxes << translated(source);
        e.log << translated(source);
    };
    const unsigned noise = unsigned(model.noiseLevel());
    switch (cmd) {
    case Cmd::GetNoise:
        e.log << QStringLiteral("Current Noise Value: ") + tenthsText(noise) +
                     QStringLiteral("  dB");
        break;
    case Cmd::GetSN:
        e.fields[DeviceId] = identityText(c.serialNumber);
        break;
    case Cmd::GetVersion:
        e.fields[SoftId] = versionText(c.version);
        break;
    case Cmd::GetDeviceAddr:
        e.fields[DeviceAddr] = QString::number(c.address, 16);
        break;
    case Cmd::CalibrateRead:
        e.fields[CalibrZero] =
            zeroOffsetText(uint8_t(c.calibration[0] >> 8), uint8_t(c.calibration[0]));
        e.fields[CalibrateFactor] = QString::number(c.calibration[1] & 0xFF);
        break;
    case Cmd::GetOrigin:
        e.log << QStringLiteral("Origin Value:  ") +
                     QString::number(SensorModel::originFromNoise(int(noise))) +
                     QStringLiteral("   ::::::  ") + tenthsText(noise) + QStringLiteral("    dB");
        break;
    case Cmd::GetCaliParam:
    case Cmd::GetCaliParamVela:
        for (int i = 0; i < 3; ++i)
            e.fields[size_t(ParamA + i)] = realHundredthsText(c.caliParams[size_t(i)]);
        break;
    case Cmd::SetCaliParam:
        confirmAndLog("Set Calibrate Param Success!");
        break;
    case Cmd::SetCaliParamVela:
        e.boxes << translated("Set Calibrate Param Success!");
        break;
    case Cmd::FactoryReset:
        confirmAndLog("Device change to FactoryConfig!");
        break;
    case Cmd::ToOwn:
        confirmAndLog("Device change to Vela!");
        break;
    case Cmd::ToModbus:
        confirmAndLog("Device change to MODBUS!");
        break;
    case Cmd::GetInfo:
        e.fields[DeviceId] = identityText(c.serialNumber);
        e.fields[SoftId] = versionText(c.version);
        break;
    case Cmd::SetDeviceAddr:
        e.log << writeConfirmationText(reg::kDeviceAddr, c.address);
        break;
    case Cmd::CalibrateWrite:
        e.log << writeConfirmationText(reg::kCalibrateRange0, reg::kCalibrationCount);
        break;
    case Cmd::SetID:
        break; // a 19-byte identity echo is not shown at all
    }
    return e;
}

Explanations explain(const QByteArray &stream, Cmd cmd)
{
    Explanations out;
    const CmdInfo &ci = info(cmd);
    for (int from = 0; from < stream.size(); ++from) {
        for (int to = from + 1; to <= stream.size(); ++to) {
            PendingReplies flags;
            if (ci.query)
                raisePending(flags, ci.flag, 0);
            for (const ReplyAction &action : decodeTick(stream.mid(from, to - from), flags, 0)) {
                switch (action.kind) {
                case ReplyAction::AppendLog:
                    out.log.insert(action.text.trimmed());
                    break;
                case ReplyAction::SetField:
                    out.fields[size_t(action.field)].insert(action.text);
                    break;
                case ReplyAction::Confirm:
                    out.boxes.insert(translated(action.source));
                    break;
                case ReplyAction::ConfirmAndLog:
                    out.boxes.insert(translated(action.source));
                    out.log.insert(translated(action.source));
                    break;
                case ReplyAction::WriteConfirmed:
                    out.log.insert(writeConfirmationText(action.registerNumber, action.value));
                    break;
                case ReplyAction::Unanswered:
                case ReplyAction::ArrivedDamaged:
                case ReplyAction::Refused:
                case ReplyAction::WriteQuery:
                    break; // no query outlives a command, and no value is refused
                }
            }
        }
    }
    return out;
}
