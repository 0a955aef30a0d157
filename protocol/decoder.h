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
        Unanswered,     // `query` drew no reply in time; its flag was lowered
        Refused,        // the sensor answered a request of `function` with `exceptionCode`;
                        // when `answersQuery`, it was `query`, whose flag was lowered
        WriteConfirmed, // the sensor echoed a write of `value` to `registerNumber`
    };
    Kind kind = AppendLog;
    Field field = Field::DeviceId;
    QString text;
    const char *source = nullptr; // untranslated message text, context "MainWindow"
    Query query = Query::Noise;
    bool answersQuery = false;
    uint8_t function = 0;
    uint8_t exceptionCode = 0;
    uint16_t registerNumber = 0;
    uint16_t value = 0;
};

// Decodes one tick's read block: the hex echo of a short read, every
// own-protocol reply on a 19-byte slot, then the Modbus pass, which takes the
// block reply by reply, each sized by its function code. A read reply serves
// the oldest raised flag whose query draws a reply of its function code and
// byte count, if it holds every byte that flag decodes; an exception answers
// the oldest raised flag of its function. Last, flags whose query was
// written kReplyDeadlineMs or more before `nowMs` are lowered as unanswered.
QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags, qint64 nowMs);
