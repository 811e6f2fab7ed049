#ifndef SVELMORAFRAMEOUTCOME_H
#define SVELMORAFRAMEOUTCOME_H

#include "svelmoramsg.h"
#include "velmoraframe.h"

#include <QByteArray>
#include <QtGlobal>

// What the decoder made of one received frame (or of one run of bytes that
// is no frame): the facts the server acts on and the log lines are made of.
struct SVelmoraFrameOutcome
{
    // What the bytes were, by their packet type.
    enum class Kind {
        NotAFrame,    // bytes that cannot start a frame, or a length out of range
        MacReply,     // the device's answer to the MAC request; answered with an ACK
        DeviceAck,    // the device acknowledges
        DeviceNak,    // the device refuses
        PeriodicTest, // an event made from the device ID; answered with an ACK
        Alarm,        // an event read from the data part; answered with an ACK
        OtherType,    // a packet type the receiver does not serve; ignored
    };
    // Why a frame was dropped; None for one that was served (or ignored).
    enum class Problem {
        None,
        NotAFrame,    // reported with its bytes
        BadTail,      // none of the three tail bytes is right
        DataTooShort, // the data part is too short for the packet type; reported with the frame's bytes
    };

    static constexpr quint16 kAckType = 0x0001;
    static constexpr quint16 kNakType = 0x0002;
    static constexpr quint16 kPeriodicTestType = 0x0003;
    static constexpr quint16 kMacReplyType = 0x0090;

    Kind kind = Kind::NotAFrame;
    Problem problem = Problem::NotAFrame;
    quint16 packetType = 0;
    VelmoraFrame::DeviceId deviceId{};
    // The connection's key once the frame was read (the new one after a MAC
    // reply).
    VelmoraFrame::Mac mac{};
    // The connection has presented its MAC (set on served frames).
    bool macKnown = false;
    // A checksum that does not match is reported; the frame is still served.
    bool checksumMismatch = false;
    quint8 checksumCalculated = 0;
    quint8 checksumInFrame = 0;
    // The bytes reported for NotAFrame and DataTooShort; empty otherwise.
    QByteArray bytes;
    QByteArray reply; // empty: nothing is sent
    bool hasEvent = false;
    SVelmoraMsg event;

    // The frame was understood and served: it counts as the device's activity.
    bool handled() const { return problem == Problem::None && kind != Kind::OtherType; }
};

#endif // SVELMORAFRAMEOUTCOME_H
