#include "ctlcommands.h"
#include "sensorline.h"

namespace {

int runAddress(Session &session, const AddressOptions &options)
{
    return SensorLine::run(session, [&options](SensorLine &line) {
        // Hexadecimal text in JSON too, as everywhere else.
        if (options.newAddress) {
            const QString address = QString::number(*options.newAddress, 16);
            return line.finish(line.client().writeAddress(*options.newAddress),
                               QStringLiteral("address set to %1").arg(address),
                               {{QStringLiteral("address"), address}});
        }
        const Result<uint8_t> read = line.client().readAddress();
        const QString address = QString::number(read.value, 16);
        return line.finish(read.outcome, address, {{QStringLiteral("address"), address}});
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
