#include "replytexts.h"

#include "sensor.h"

#include <QCoreApplication>

QString writeConfirmationText(uint16_t registerNumber, uint16_t value)
{
    if (registerNumber == reg::kDeviceAddr)
        return QCoreApplication::translate("MainWindow", "传感器确认：设备地址已设为 %1")
            .arg(QString::number(value & 0xFF, 16));
    const int range = (registerNumber - reg::kCalibrateRange0) / reg::kCalibrationCount;
    return QCoreApplication::translate("MainWindow",
                                       "传感器确认：已写入校准范围 %1 的数值校准和比例校准")
        .arg(range);
}
