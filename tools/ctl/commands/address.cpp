#include "ctlcommands.h"
#include "sensorline.h"

namespace {

int runAddress(Session &session, const AddressOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        if (options.newAddress) {
            const int address = *options.newAddress;
            return line.finish(
                line.client().writeAddress(*options.newAddress),
                QStringLiteral("address set to %1").arg(QString::number(address, 16)),
                {{QStringLiteral("address"), address}});
        }
        const Result<uint8_t> address = line.client().readAddress();
        return line.finish(address.outcome, QString::number(address.value, 16),
                           {{QStringLiteral("address"), int(address.value)}});
    });
}

} // namespace

void addAddressCommand(CLI::App &root, Invocation &inv)
{
    CLI::App *sub =
        cli::addCommand(root, inv, "address",
                        "address [NEW]\n"
                        "  read the sensor's own slave address, or set it to NEW (1 to f7)\n"
                        "  ktr450ctl --port ttyUSB0 address                   1\n"
                        "  ktr450ctl --port ttyUSB0 address 1f                address set to 1f");
    const auto options = std::make_shared<AddressOptions>();
    cli::addArgument(*sub, inv, "NEW", "the new address, hexadecimal", options->newAddress,
                     [](const QString &text) { return checkSlaveAddress(text, false); });
    cli::onChosen(*sub, inv, options, runAddress);
}
