#include "frame.h"

uint8_t ownChecksum(const uint8_t *frame)
{
    unsigned sum = 0;
    for (int i = 2; i < kOwnChecksumOffset; ++i)
        sum += frame[i];
    return uint8_t(sum & 0xFF);
}

uint16_t crc16Modbus(const uint8_t *bytes, uint16_t length)
{
    uint16_t crc = 0xFFFF;
    for (uint16_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 0x0001)
                crc = uint16_t((crc >> 1) ^ 0xA001);
            else
                crc = uint16_t(crc >> 1);
        }
    }
    return crc;
}

QString hexPair(uint8_t byte)
{
    static const char digits[] = "0123456789abcdef";
    const QChar pair[2] = {QLatin1Char(digits[byte >> 4]), QLatin1Char(digits[byte & 0x0F])};
    return QString(pair, 2);
}

QString toHexText(const uint8_t *bytes, int count)
{
    QString text;
    if (count <= 0)
        return text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        text += hexPair(bytes[i]);
        text += QLatin1Char(' ');
    }
    return text;
}

QString toHexText(const QByteArray &bytes)
{
    return toHexText(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
}

void appendModbusCrc(QByteArray &frame)
{
    const uint16_t crc =
        crc16Modbus(reinterpret_cast<const uint8_t *>(frame.constData()), uint16_t(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

bool modbusCrcMatches(const QByteArray &frame)
{
    if (frame.size() < 3 || frame.size() > 0xFFFF)
        return false;
    const auto *bytes = reinterpret_cast<const uint8_t *>(frame.constData());
    const uint16_t length = uint16_t(frame.size() - 2);
    const uint16_t crc = crc16Modbus(bytes, length);
    return bytes[length] == (crc & 0xFF) && bytes[length + 1] == (crc >> 8);
}

QByteArray ownFrame(uint8_t command, const QByteArray &data)
{
    QByteArray frame(kOwnFrameSize, '\0');
    frame[0] = char(kOwnHead);
    frame[kOwnCommandOffset] = char(command);
    const int dataBytes = qMin(data.size(), kOwnChecksumOffset - kOwnCommandOffset - 1);
    for (int i = 0; i < dataBytes; ++i)
        frame[kOwnCommandOffset + 1 + i] = data[i];
    frame[kOwnChecksumOffset] =
        char(ownChecksum(reinterpret_cast<const uint8_t *>(frame.constData())));
    frame[kOwnFrameSize - 1] = char(kOwnTail);
    return frame;
}

QByteArray ownFrame(uint8_t command, std::initializer_list<OwnField> fields)
{
    constexpr int kFirstData = kOwnCommandOffset + 1;
    QByteArray data(kOwnChecksumOffset - kFirstData, '\0');
    for (const OwnField &field : fields) {
        for (int i = 0; i < field.bytes.size(); ++i) {
            const int at = field.offset - kFirstData + i;
            if (at >= 0 && at < data.size())
                data[at] = field.bytes[i];
        }
    }
    return ownFrame(command, data);
}

bool isOwnFrameAt(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset + kOwnFrameSize <= bytes.size() &&
           uint8_t(bytes[offset]) == kOwnHead &&
           uint8_t(bytes[offset + kOwnFrameSize - 1]) == kOwnTail;
}

void appendBigEndian16(QByteArray &out, uint16_t value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

void appendBigEndian32(QByteArray &out, uint32_t value)
{
    appendBigEndian16(out, uint16_t(value >> 16));
    appendBigEndian16(out, uint16_t(value & 0xFFFF));
}

uint16_t bigEndian16(const uint8_t *bytes)
{
    return uint16_t((bytes[0] << 8) | bytes[1]);
}

uint32_t bigEndian32(const uint8_t *bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
}
