#pragma once
// The line protocol of our DDE stand-in, shared by the server (dde_server.h) and the client
// (dde_client.h).
//
// Transport: a service is a Unix-domain stream socket in the user's runtime folder (dde_names.h
// gives its path; the folder has mode 0700, the socket 0600). One connection carries one
// conversation with one topic of the service.
//
// Lines: every message is one line ended by LF, at most kMaxLine bytes with the LF. Fields are
// separated by exactly one space; the first field is the verb. Inside a field the bytes 0x00 to
// 0x20, '%' and 0x7F are written as '%' followed by two hexadecimal digits; every other byte
// stands for itself. Names and texts are Windows-1251 bytes (DDE's CF_TEXT). Topic and item names
// match without regard to letter case.
//
// Client to server; the id is a decimal number from 1 to 4294967295 that the reply carries back:
//   HELLO id topic         opens the conversation; must be the first line and comes only once
//   REQ id item            reads the item's text
//   ADV id item            hot link: the item's text follows at once as UPD when the item exists,
//                          and again on every set; accepted also while no item of that name exists
//   UNADV id item          ends a hot link
//   POKE id item text      asks the server to set the item's text
// Server to client:
//   OK id                  success
//   OK id text             success of REQ, with the item's text
//   ERR id reason          refusal (unknown topic or item, item refuses pokes, text too long);
//                          after a refused HELLO the server closes the connection
//   UPD item text          a hot-linked item's new text
//   GONE item              a hot-linked item was removed or renamed; the link stays and delivers
//                          again once an item of that name appears
//   BYE reason             the server ends the conversation and closes the connection
// A line that is too long, malformed or out of place ends the connection; the server says BYE
// with the reason first.
//
// Hot links deliver every change in order while the client keeps reading. A client that falls
// behind gets, per item, only the newest text (the server's queue per client is bounded).
#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace platform::dde {

constexpr qsizetype kMaxLine = 65536;  // bytes, LF included
constexpr qsizetype kMaxName = 255;    // characters of a topic or item name
constexpr qsizetype kMaxText = 16384;  // characters of an item's text; escaped, it still fits a line

enum class Verb { Hello, Req, Adv, Unadv, Poke, Ok, Err, Upd, Gone, Bye };

// One message. `name` is the topic (HELLO) or item; `text` the item's text, REQ's answer, or the
// reason of ERR and BYE. Both are raw Windows-1251 bytes.
struct Message {
    Verb verb = Verb::Ok;
    std::uint32_t id = 0;
    QByteArray name;
    QByteArray text;
    bool hasText = false;  // the text field is there (OK leaves it out when false)
};

// Parses one line without its LF; nothing for a malformed line.
std::optional<Message> parseLine(QByteArrayView line);
// The message as a line with its LF.
QByteArray formatLine(const Message &message);
// Appends a field to a line being built (the escaping of the protocol).
void appendField(QByteArray &line, QByteArrayView raw);

// Cuts a byte stream into lines.
class LineBuffer {
public:
    // Adds received bytes. False once a line has grown past kMaxLine without its LF: the stream
    // is then unusable.
    bool append(QByteArrayView bytes);
    // Takes the next whole line, without its LF.
    bool takeLine(QByteArray &line);
    bool overflowed() const { return overflow_; }

private:
    QByteArray buffer_;
    qsizetype start_ = 0;  // first byte not yet taken
    qsizetype scan_ = 0;   // bytes before it hold no LF
    bool overflow_ = false;
};

} // namespace platform::dde
