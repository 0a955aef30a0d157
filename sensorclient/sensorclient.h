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

    Result<uint16_t> readNoise(); // tenths of a dB
    Result<uint32_t> readSerialNumber();
    Result<FirmwareVersion> readVersion();
    Result<uint8_t> readAddress();
    Result<Origin> readOrigin();
    Result<Calibration> readCalibration(int range);
    Result<CalibrationParameters> readParameters();

    // A write is done when the sensor echoes it.
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
    template <typename T, typename Decode>
    Result<T> readOwn(const QByteArray &query, uint8_t command, int selector, Decode decode);

    Exchange exchange_;
    uint8_t slave_ = 0;
};
