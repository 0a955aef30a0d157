#include "jsonmembers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <cctype>
#include <cstring>

namespace {

// A walk over valid JSON text that notes every object's member names.
class MemberWalk
{
  public:
    explicit MemberWalk(const QByteArray &json) : json_(json) {}

    QString firstRepeated()
    {
        value(QString());
        return found_;
    }

  private:
    bool more() const { return at_ < json_.size(); }
    char next() const { return json_[at_]; }
    void blanks()
    {
        while (more() && std::isspace(static_cast<unsigned char>(next())))
            ++at_;
    }

    // A string token, its escapes read by Qt's own reader.
    QString string()
    {
        const int start = at_++;
        while (more() && next() != '"')
            at_ += next() == '\\' ? 2 : 1;
        ++at_;
        const QByteArray token = json_.mid(start, at_ - start);
        return QJsonDocument::fromJson('[' + token + ']').array().at(0).toString();
    }

    void value(const QString &path)
    {
        blanks();
        if (!more())
            return;
        if (next() == '{')
            members(path);
        else if (next() == '[')
            elements(path);
        else if (next() == '"')
            string();
        else
            while (more() && !std::strchr(",]} \t\r\n", next()))
                ++at_;
    }

    void members(const QString &path)
    {
        ++at_;
        QSet<QString> names;
        for (blanks(); more() && next() != '}'; blanks()) {
            if (next() == ',') {
                ++at_;
                continue;
            }
            const QString name = string();
            const QString member = memberPath(path, name);
            if (names.contains(name) && found_.isEmpty())
                found_ = member;
            names.insert(name);
            blanks();
            ++at_; // the colon
            value(member);
        }
        ++at_;
    }

    void elements(const QString &path)
    {
        ++at_;
        int index = 0;
        for (blanks(); more() && next() != ']'; blanks()) {
            if (next() == ',') {
                ++at_;
                ++index;
                continue;
            }
            value(QStringLiteral("%1[%2]").arg(path).arg(index));
        }
        ++at_;
    }

    const QByteArray &json_;
    int at_ = 0;
    QString found_;
};

} // namespace

QString firstRepeatedMember(const QByteArray &json)
{
    return MemberWalk(json).firstRepeated();
}

QString memberPath(const QString &parent, const QString &name)
{
    return parent.isEmpty() ? name : parent + QLatin1Char('.') + name;
}
