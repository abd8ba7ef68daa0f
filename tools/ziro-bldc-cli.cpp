// ziro-bldc-cli: commissions a ZIRO-BLDC module from the command line (see cli/Cli.h).

#include "cli/Cli.h"
#include "cli/Output.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ziro-bldc-cli"));
    qInstallMessageHandler(cli::messageHandler);
    return cli::run(QCoreApplication::arguments().mid(1));
}
