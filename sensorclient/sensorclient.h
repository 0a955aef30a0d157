// The sensor as the terminal programs see it: open a line, then typed calls
// that each run one transaction (retries, local echo, late replies) and
// return a value or one outcome with its reason. Modbus calls go to the
// slave address set (0 by default, which this sensor answers whatever its
// own address); own-protocol calls have no address.
#pragma once

#include "exchange.h"
#include "outcome.h"
#include "registercodec.h"
#include "transport.h"

#include <QByteArray>
#include <cstdint>
#include <functional>

class SensorClient
{
  public:
    explicit SensorClient(Transport &transport);

    bool open(const QString &port, qint32 baud, QString &error);
    void close();
    // Timeout, retries, local echo and trace of every call.
    Exchange &exchange() { return exchange_; }
    void setSlave(uint8_t slave) { slave_ = slave; }
    uint8_t slave() const { return slave_; }
    // A write confirmed by bytes equal to its request (a Modbus write of one
    // register, the own protocol's identity and parameter writes) proves
    // nothing on a line whose adapter echoes what it sends. With the proof
    // on (the default), such a write is followed by a read that only a
    // sensor answers: the value written read back (address, identity, own-
    // protocol parameters), or the version in the protocol now selected
    // (factory reset, protocol switch); it fails when that read draws only
    // its own echo, silence or another value. Off, such a write ends Done
    // with `unproven` set, for a caller that reads back itself.
    void setWriteProof(bool on) { proveWrites_ = on; }
    bool writeProof() const { return proveWrites_; }

    Result<uint16_t> readNoise(); // tenths of a dB
    Result<uint32_t> readSerialNumber();
    Result<FirmwareVersion> readVersion();
    Result<uint8_t> readAddress();
    Result<Origin> readOrigin();
    Result<Calibration> readCalibration(int range);
    Result<CalibrationParameters> readParameters();

    // A write is done when the sensor echoes it (and, see setWriteProof(),
    // a sensor is shown to have taken it).
    Outcome writeAddress(uint8_t address);
    Outcome writeCalibration(int range, const Calibration &calibration);
    Outcome writeParameters(const CalibrationParameters &params);
    Outcome factoryReset();
    Outcome switchProtocol(bool toOwnProtocol);

    // The own protocol. A write is done when the sensor confirms the values
    // sent.
    Result<uint32_t> readOwnIdentity();
    Outcome writeOwnIdentity(uint32_t identity);
    Result<FirmwareVersion> readOwnVersion();
    Result<CalibrationParameters> readOwnParameters();
    Outcome writeOwnParameters(const CalibrationParameters &params);

    // After a call that needed a retry, the reply to an earlier attempt may
    // still be on its way: waits for it and discards it. Returns the bytes
    // discarded.
    int discardLateReply() { return exchange_.discardLateReply(); }

  private:
    Outcome transact(const QByteArray &request, const ReplyFramer &framer, QByteArray &reply);
    template <typename T, typename Decode>
    Result<T> readRegisters(const QByteArray &request, Decode decode);
    Outcome writeRegisters(const QByteArray &request);
    Outcome proven(Outcome write, const std::function<Outcome()> &proof);
    template <typename Read> auto readAt(uint8_t slave, Read read);
    template <typename T, typename Decode>
    Result<T> readOwn(const QByteArray &query, uint8_t command, int selector, Decode decode);

    Exchange exchange_;
    uint8_t slave_ = 0;
    bool proveWrites_ = true;
};
