#include "lineerrors.h"

#include <algorithm>
#include <cctype>

namespace {

// The commands that declare `option`.
QStringList ownersOf(const CLI::App &root, const std::string &option)
{
    QStringList owners;
    for (const CLI::App *sub : root.get_subcommands({})) {
        if (sub->get_option_no_throw(option))
            owners << QString::fromStdString(sub->get_name());
    }
    return owners;
}

bool takesArguments(const CLI::App *command)
{
    return command &&
           !command->get_options([](const CLI::Option *o) { return o->get_positional(); }).empty();
}

// An option of a command that stands elsewhere: before its command, or with
// another command.
QString misplacedOption(const CLI::App &root, const QString &name, QStringList owners)
{
    const CLI::App *chosen = chosenCommand(root);
    const QString chosenName = chosen ? QString::fromStdString(chosen->get_name()) : QString();
    if (owners.contains(chosenName))
        return QStringLiteral("%1 must follow the %2 command").arg(name, chosenName);
    const QString last = owners.takeLast();
    if (owners.isEmpty())
        return QStringLiteral("%1 belongs to the %2 command").arg(name, last);
    return QStringLiteral("%1 belongs to the %2 and %3 commands")
        .arg(name, owners.join(QStringLiteral(", ")), last);
}

// A negative number ("-5", "-.5") is a value, not an option.
bool looksLikeOption(const std::string &word)
{
    return word.size() > 1 && word[0] == '-' && word[1] != '.' &&
           !std::isdigit(static_cast<unsigned char>(word[1]));
}

// The option a word names, in the line's options or any command's.
const CLI::Option *optionNamed(const CLI::App &root, const std::string &name)
{
    std::vector<const CLI::App *> apps = root.get_subcommands({});
    apps.insert(apps.begin(), &root);
    const auto owner = std::find_if(apps.cbegin(), apps.cend(), [&name](const CLI::App *app) {
        return app->get_option_no_throw(name) != nullptr;
    });
    return owner == apps.cend() ? nullptr : (*owner)->get_option_no_throw(name);
}

// A flag given a value, or an option given none: found in the words
// themselves.
QString valueError(const CLI::App &root, const QStringList &arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (word == QLatin1String("--"))
            break;
        const QString name = word.section(QLatin1Char('='), 0, 0);
        const CLI::Option *option = optionNamed(root, name.toStdString());
        if (!option || option->get_positional())
            continue;
        const bool valued = word.contains(QLatin1Char('='));
        const bool flag = option->get_items_expected_max() == 0;
        if (flag && valued)
            return QStringLiteral("%1 takes no value").arg(name);
        const bool nextIsValue =
            i + 1 < arguments.size() && !looksLikeOption(arguments[i + 1].toStdString());
        if (!flag && !valued && !nextIsValue)
            return QStringLiteral("%1 needs a value").arg(name);
    }
    return QString();
}

// A missing argument of the chosen command: a wrong number of them.
bool missesArgument(const CLI::App &root)
{
    const CLI::App *chosen = chosenCommand(root);
    return takesArguments(chosen) &&
           !chosen
                ->get_options([](const CLI::Option *o) {
                    return o->get_positional() && o->count() == 0 &&
                           (o->get_required() || !o->get_needs().empty() ||
                            o->get_items_expected_min() > 0);
                })
                .empty();
}

} // namespace

QString helpHint()
{
    return QStringLiteral("ktr450ctl --help lists the commands and options");
}

// The command the line names; CLI11 does not list one named after "--".
const CLI::App *chosenCommand(const CLI::App &root)
{
    const auto named = root.get_subcommands([](const CLI::App *sub) { return sub->parsed(); });
    return named.empty() ? nullptr : named.front();
}

// The first word CLI11 could not place, in plain words; empty when none.
QString leftoverError(const CLI::App &root, const Invocation &inv)
{
    bool optionsEnded = false;
    for (const std::string &word : root.remaining(true)) {
        const QString text = cli::fromCli(word);
        if (word == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && looksLikeOption(word)) {
            const std::string name = word.substr(0, word.find('='));
            const QStringList owners = ownersOf(root, name);
            if (!owners.isEmpty())
                return misplacedOption(root, QString::fromStdString(name), owners);
            return QStringLiteral("unknown option '%1'; %2")
                .arg(QString::fromStdString(name), helpHint());
        }
        if (!chosenCommand(root))
            return QStringLiteral("unknown command '%1'; %2").arg(text, helpHint());
        if (takesArguments(chosenCommand(root)))
            return cli::wrongCount(inv.usage);
        return QStringLiteral("unexpected argument '%1' after the command").arg(text);
    }
    return QString();
}

// CLI11's mistakes in this program's words.
QString usageError(const CLI::ParseError &error, const CLI::App &root, const Invocation &inv,
                   const QStringList &arguments)
{
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&error)) {
        const QString found = valueError(root, arguments);
        if (!found.isEmpty())
            return found;
    }
    if ((dynamic_cast<const CLI::RequiredError *>(&error) ||
         dynamic_cast<const CLI::RequiresError *>(&error)) &&
        missesArgument(root))
        return cli::wrongCount(inv.usage);
    return QString::fromStdString(error.what());
}
