#ifndef REPLYPATTERN_H
#define REPLYPATTERN_H

#include <QByteArray>
#include <QList>
#include <QString>

// What a projector's reply line must look like, in a command set's own small language
// rather than a regular expression, so that no file can make matching slow: one pass over
// the line, whatever the pattern. Literal bytes, with
//   *            any text (at most one in a pattern)
//   ?            any one byte
//   {n}          a lamp's number: decimal digits
//   {hours}      lamp hours: decimal digits
//   {width} {height} {rate}          a resolution in decimal digits (pixels, Hz)
//   {width16} {height16}             two bytes, the high one first
//   {rate-code}  one byte, looked up in the set's list of rates
// and \\ \* \? \{ \} \| \xHH for those bytes themselves, \s for a space. Digits are read as many as
// follow (at most kMaxDigits), so a digit placeholder is never followed by a digit or by another
// placeholder: the reader refuses such a pattern, as it would be ambiguous.
class ReplyPattern
{
public:
    enum class Capture {
        LampNumber,
        Hours,
        Width,
        Height,
        Rate,
        Width16,
        Height16,
        RateCode,
    };

    struct Match
    {
        bool matched = false;
        QList<Capture> kinds; // in the order of the pattern
        QList<int> values; // one for each of kinds
        QByteArray rest; // what "*" took
    };

    static constexpr int kMaxDigits = 9; // fits an int

    // An empty error when the pattern is good. Letters match in either case with
    // anyCase (ASCII letters only).
    static ReplyPattern parse(const QString &text, bool anyCase, QString *error);

    bool isEmpty() const { return head.isEmpty() && !hasStar; }
    Match match(const QByteArray &line) const;
    // A line the pattern matches, for a projector played from a set: values fill the
    // placeholders in the order of the pattern (0 for those left over), `star` stands for
    // "*" and kAnyByte for each "?", so that match() gives the same values back.
    QByteArray sample(const QList<int> &values, const QByteArray &star = {}) const;
    // The placeholders, in the order of the pattern.
    QList<Capture> captures() const;

    static constexpr char kAnyByte = '_';
    const QString &text() const { return source; }

private:
    enum class Kind {
        Literal,
        AnyByte,
        Digits,
        TwoBytes,
        OneByte,
    };
    struct Element
    {
        Kind kind = Kind::Literal;
        char byte = 0; // for Literal
        Capture capture = Capture::Hours;
    };

    static void render(const Element &element, int value, QByteArray *line);
    static bool matchElement(const Element &element, const QByteArray &line, int &at, int step,
                             bool anyCase, Match &result);

    QString source;
    QList<Element> head; // before "*", read forwards
    QList<Element> tail; // after "*", read backwards from the end of the line
    bool hasStar = false;
    bool anyCase = false;
};

#endif // REPLYPATTERN_H
