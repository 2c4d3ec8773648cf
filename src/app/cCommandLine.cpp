#include "cCommandLine.h"

#include "corvaneVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace {

QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

// The platform Qt will use: a "-platform" argument wins over QT_QPA_PLATFORM, as in Qt itself.
QString chosenPlatform(const QStringList& arguments)
{
    for (int i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-platform" || arguments[i] == "--platform")
            return arguments[i + 1];
    return env("QT_QPA_PLATFORM");
}

// Empty when an X server can be reached at DISPLAY, else why not. Only a local display (":N")
// can be checked without talking to it; a remote one is taken on trust.
QString x11Problem()
{
    const QString display = env("DISPLAY");
    if (display.isEmpty())
        return "DISPLAY is not set";
    static const QRegularExpression local("^(unix)?:([0-9]+)(\\.[0-9]+)?$");
    const QRegularExpressionMatch m = local.match(display);
    if (!m.hasMatch())
        return QString();
    const QString socket = "/tmp/.X11-unix/X" + m.captured(2);
    if (QFileInfo::exists(socket))
        return QString();
    // A server may listen on the abstract socket of that name alone.
    QFile sockets("/proc/net/unix");
    if (sockets.open(QIODevice::ReadOnly)) {
        const QByteArray abstract = "@" + socket.toLocal8Bit() + "\n";
        if (sockets.readAll().contains(abstract))
            return QString();
    }
    return "no X server answers on DISPLAY=" + display;
}

// Empty when the window can be shown somewhere, else why not.
QString displayProblemOf(const QStringList& arguments)
{
    const QString platform = chosenPlatform(arguments);
    if (platform.isEmpty()) {
        // Qt's own choice: Wayland in a Wayland session, else X11.
        if (!env("WAYLAND_DISPLAY").isEmpty())
            return QString();
        return x11Problem();
    }
    // A list of platforms to try in turn ("wayland;xcb"), each with options after a colon.
    QString problem;
    for (const QString& entry : platform.split(';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(':', 0, 0);
        if (name == "xcb") {
            problem = x11Problem();
        } else if (name.startsWith("wayland")) {
            problem = env("WAYLAND_DISPLAY").isEmpty() ? "WAYLAND_DISPLAY is not set" : QString();
        } else {
            // offscreen, minimal, vnc, eglfs, linuxfb: they need no display server.
            problem.clear();
        }
        if (problem.isEmpty())
            return QString();
    }
    return problem;
}

void describe(QCommandLineParser& parser)
{
    // "-debug" is one word, not five one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // English, as the log: the help is printed before any translation could be loaded.
    parser.setApplicationDescription("Corvane: a desktop host for flow-measurement instruments.");
    // Not addHelpOption(): its --help-all would offer Qt's options of a GUI application that a
    // plain one does not know.
    parser.addOption(QCommandLineOption({"h", "help"}, "Displays this help."));
    parser.addVersionOption();
}

// The switches kept from before are matched by cProgram, with one dash; the parser would print
// them with two, which the program does not take.
QString switchesHelp()
{
    return QStringLiteral(
        "\nSwitches (matched exactly, with one dash and these capitals):\n"
        "  -debug         Write the diagnostic log to log.txt in the current folder\n"
        "                 (created or truncated) instead of the console. Nothing\n"
        "                 after it on the command line is read.\n"
        "  -factory       Factory mode: extra settings for production and\n"
        "                 calibration.\n");
}

// Qt's own options, which its GUI application (or the X11 platform) takes from the command line,
// and whether each takes the next argument as its value. Qt reads them with one dash or two.
struct QtOption {
    const char* name;
    bool takesValue;
};
const QtOption qtOptions[] = {
    {"platform", true},  {"platformpluginpath", true}, {"platformtheme", true},   {"plugin", true},
    {"session", true},   {"qwindowgeometry", true},    {"qwindowtitle", true},    {"qwindowicon", true},
    {"geometry", true},  {"title", true},              {"icon", true},            {"display", true},
    {"name", true},      {"style", true},              {"stylesheet", true},      {"reverse", false},
    {"widgetcount", false}, {"nograb", false},         {"dograb", false},         {"sync", false},
    {"qmljsdebugger", false},
};

// The options of `read` that neither the program nor Qt knows; arguments that are no options
// (no leading dash) were always ignored in silence and stay so.
QStringList unknownOptionsOf(const QStringList& read)
{
    QStringList unknown;
    for (int i = 1; i < read.size(); ++i) {
        const QString& a = read[i];
        if (a.size() < 2 || !a.startsWith('-'))
            continue;
        if (a == "-debug" || a == "-factory")
            continue;
        QString name = a.mid(a.startsWith("--") ? 2 : 1);
        const bool joinedValue = name.contains('=');
        name = name.section('=', 0, 0);
        if (name == "h" || name == "help" || name == "v" || name == "version")
            continue;
        bool known = false;
        for (const QtOption& o : qtOptions) {
            if (name == QLatin1String(o.name)) {
                known = true;
                if (o.takesValue && !joinedValue)
                    ++i;
                break;
            }
        }
        if (!known)
            unknown << a;
    }
    return unknown;
}

} // namespace

cCommandLine::cCommandLine(const QStringList& arguments)
{
    // What came after "-debug" was never read, and stays so: "-debug --version" still starts
    // the program with its log, as it always did.
    QStringList read;
    for (const QString& a : arguments) {
        read << a;
        if (a == "-debug")
            break;
    }
    QCommandLineParser parser;
    describe(parser);
    // Every other argument is ignored, as it always was (Qt's own, such as -platform, among
    // them), so an unknown option is no error here.
    parser.parse(read);
    if (parser.isSet("help")) {
        act = Help;
        return;
    }
    if (parser.isSet("version")) {
        act = Version;
        return;
    }
    unknownOptions = unknownOptionsOf(read);
    displayProblem = displayProblemOf(arguments);
    act = displayProblem.isEmpty() ? Run : NoDisplay;
}

cCommandLine::cCommandLine(int argc, char* argv[])
    : cCommandLine([argc, argv] {
          QStringList arguments;
          for (int i = 0; i < argc; ++i)
              arguments << QString::fromLocal8Bit(argv[i]);
          return arguments;
      }())
{
}

QString cCommandLine::text() const
{
    switch (act) {
    case Help: {
        QCommandLineParser parser;
        describe(parser);
        return parser.helpText() + switchesHelp();
    }
    case Version:
        return QCoreApplication::applicationName() + " " + CORVANE_VERSION + "\n";
    case NoDisplay:
        return "corvane: " + displayProblem +
               ": Corvane shows a window and needs a display. Start it in a desktop session, or under a "
               "virtual display: xvfb-run -a corvane\n";
    case Run:
        break;
    }
    return QString();
}

int cCommandLine::answer() const
{
    if (act == Run)
        return -1;
    // The help text's usage line and the version line name the program; that needs an
    // application object, and a plain one needs no display.
    int argc = 1;
    char name[] = "corvane";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corvane");
    QCoreApplication::setApplicationVersion(CORVANE_VERSION);
    const QByteArray out = text().toLocal8Bit();
    FILE* stream = act == NoDisplay ? stderr : stdout;
    fwrite(out.constData(), 1, size_t(out.size()), stream);
    fflush(stream);
    return act == NoDisplay ? 1 : 0;
}

void cCommandLine::sayUnknownOptions() const
{
    // One line each on standard error, before -debug could send the log elsewhere: the program
    // still starts, as it always did with arguments it does not know.
    for (const QString& option : unknownOptions) {
        const QByteArray line = ("corvane: unknown option " + option + " (ignored)\n").toLocal8Bit();
        fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
    fflush(stderr);
}
