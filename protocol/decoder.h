// The reply decoder: one poll tick's bytes in, what the window must show out.
// It never touches a widget; the window applies the actions in order.
#pragma once

#include "pendingreplies.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The tick examines at most this many bytes of a read (8 own-protocol slots).
constexpr int kWorkingCopySize = 160;

// Display fields a reply can fill.
enum class Field {
    DeviceId,        // Edit_DeviceID
    SoftId,          // label_softid
    DeviceAddr,      // lineEdit_DeviceAddr
    CalibrZero,      // lineEdit_CalibrZero
    CalibrateFactor, // lineEdit_CalibrateFactor
    CaliParamA,      // lineEdit_CaliParamA
    CaliParamB,      // lineEdit_CaliParamB
    CaliParamC,      // lineEdit_CaliParamC
};

struct ReplyAction {
    enum Kind {
        AppendLog,      // append `text` to the log pane
        SetField,       // set `field` to `text`
        Confirm,        // modal box with tr(source)
        ConfirmAndLog,  // modal box with tr(source), then the same text in the log pane
    };
    Kind kind = AppendLog;
    Field field = Field::DeviceId;
    QString text;
    const char *source = nullptr; // untranslated message text, context "MainWindow"
};

// Decodes one tick's read block: the hex echo of a short read, every
// own-protocol reply on a 19-byte slot, then the Modbus pass (write echoes and
// the raised flags, each served only by a reply long enough for it).
QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags);

// The number formats of the decoder.
QString realText(double value); // QString::arg(double) at its defaults: 45.6, 100, 1e+06
// Four identity bytes as two groups of hex pairs: 12ab-00ff.
QString identityText(const uint8_t *bytes);
