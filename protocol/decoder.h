// The reply decoder: one poll tick's bytes in, what the window must show out.
// It never touches a widget; the window applies the actions in order.
#pragma once

#include "pendingreplies.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The tick examines at most this many bytes of a read; the rest is dropped.
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
        ArrivedDamaged, // `query` drew only damaged replies in time; its flag was lowered
        Refused,        // the sensor answered a request of `function` with `exceptionCode`;
                        // when `answersQuery`, it was `query`, whose flag was lowered
        WriteConfirmed, // the sensor echoed a write of `value` to `registerNumber`
        WriteQuery,     // the turn of held `query` has come: write `frame` now (its
                        // flag is raised already)
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
    QByteArray frame;
};

// Decodes one tick's read block. A read of 4 to 17 bytes is echoed as hex
// text. The block's first kWorkingCopySize bytes join what an earlier tick
// kept of an unfinished frame, and every intact frame in them is decoded in
// the order it came, whatever lies between (see framefinder.h):
//  - an own-protocol reply fills its fields or opens its confirmation;
//  - a Modbus read reply serves the raised flag whose query draws a reply of
//    its function code and byte count;
//  - an exception answers the oldest raised flag of its function;
//  - a write echo opens its confirmation or says what the sensor took.
// A damaged frame decodes nothing; the query it would have answered stays
// awaited, and is said to have drawn a damaged reply if nothing intact comes
// by its deadline. The unfinished frame at the end is kept for the next
// tick, at most kReplyDeadlineMs. Then flags whose query was written
// kReplyDeadlineMs or more before `nowMs` are lowered, unless the kept
// fragment, begun in time, may be their reply; last, held queries whose
// turn has come are handed back to be written.
QVector<ReplyAction> decodeTick(const QByteArray &block, PendingReplies &flags, qint64 nowMs);
