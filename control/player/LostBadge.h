// The "lost since" badge: what a window whose input failed or went silent draws over its idle
// picture, in the user's language. Why the input was lost comes from FFmpeg's error code,
// reduced to a few words; when and until when are local wall-clock times.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <string>

class QPainter;
class QRect;

namespace monvid {

// Why an input was lost, as the badge names it.
enum class LossReason {
    Refused,      // nothing listens at the address
    NotFound,     // no such file, stream or path
    TimedOut,     // no answer, or no data for too long
    Unsupported,  // no video stream, unknown format, protocol or codec
    Closed,       // the live input ended or the connection was dropped
    Denied,       // permission or authorisation refused
    Unreachable,  // no route to the host
    Other,        // anything else: FFmpeg's own words are shown
};

// Sorts an FFmpeg error code (AVERROR(...), AVERROR_...) into a reason.
LossReason lossReasonFor(int averror);
// FFmpeg's own text for an error code.
std::string ffmpegErrorText(int averror);

// The state the badge shows. Written by the play thread under the window's status lock,
// read by the GUI thread when painting.
struct LinkLoss {
    bool lost = false;
    std::chrono::system_clock::time_point since{};  // last picture, or the first failure
    LossReason reason = LossReason::Other;
    std::string detail;  // FFmpeg's text, for LossReason::Other
    bool retrying = false;
    std::chrono::system_clock::time_point nextTry{};  // when retrying
};

// A few words for a reason, translated.
QString lossReasonText(LossReason reason, const std::string& detail);
// A point in time as the badge writes it: hours, minutes and seconds of the local time, with
// the date in front when it is not the day of `now`.
QString badgeTime(std::chrono::system_clock::time_point at,
                  std::chrono::system_clock::time_point now);
// The badge's lines: since when, why, and when the next try is (while retrying).
QStringList badgeLines(const LinkLoss& loss, std::chrono::system_clock::time_point now);

// Draws the lines in a framed panel in the idle picture's clear band over `area` (the
// picture drawn stretched to it), so that the camera and the words under it stay in sight.
// Lines that do not fit the band are left out from the last on; the first ("lost since") is
// the shortest form, drawn in any cell. Returns the number of lines drawn.
int drawLostBadge(QPainter& painter, const QRect& area, const QStringList& lines);

}  // namespace monvid
