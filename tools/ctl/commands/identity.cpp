#include "ctlcommands.h"
#include "formats.h"
#include "frame.h"
#include "sensorline.h"

namespace {

// The identity exists only in the sensor's own protocol.
int runIdentity(Session &session, const IdentityOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        if (options.identity) {
            const QString id = identityText(options.identity->data());
            return line.finish(
                line.client().writeOwnIdentity(bigEndian32(options.identity->data())),
                QStringLiteral("identity set to %1").arg(id), {{QStringLiteral("identity"), id}},
                true);
        }
        const Result<uint32_t> identity = line.client().readOwnIdentity();
        const QString text = identityText(identity.value);
        return line.finish(identity.outcome, text, {{QStringLiteral("identity"), text}}, true);
    });
}

} // namespace

void addIdentityCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub = cli::addCommand(
        root, inv, "identity",
        "identity [ID]\n"
        "  read or set the identity in the sensor's own protocol; ID is two\n"
        "  groups of up to four hexadecimal digits\n"
        "  ktr450ctl --port ttyUSB0 identity                  2309-0451\n"
        "  ktr450ctl --port ttyUSB0 identity 12ab-00ff        identity set to 12ab-00ff");
    const auto options = std::make_shared<IdentityOptions>();
    cli::addArgument(*sub, inv, "ID", "the identity to write", options->identity, checkIdentity);
    cli::onChosen(*sub, inv, options, runIdentity);
}
