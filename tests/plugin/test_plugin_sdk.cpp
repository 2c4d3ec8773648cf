// The SDK as a plug-in developer outside this repository uses it: Corvane installed into a
// temporary prefix, the minimal plug-in of docs/plugins.md built and installed against it with
// find_package(Corvane), and the installed program loading it.
#include "HostFixture.h"
#include "ProgramRunner.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

// Runs a command to its end; its output goes into the failure message.
bool run(const QString& program, const QStringList& args, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(480000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    *output = program + " " + args.join(' ') + "\n" + QString::fromLocal8Bit(p.readAll());
    return ok;
}

// The first capture of a pattern in a file, or an empty string.
QString capture(const QString& path, const QString& pattern)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(QString::fromUtf8(f.readAll())).captured(1);
}

} // namespace

class TestPluginSdk : public QObject
{
    Q_OBJECT

private slots:
    void minimalPluginFromTheGuideLoads()
    {
        QTemporaryDir tmp;
        const QString prefix = tmp.path() + "/prefix";
        const QString src = tmp.path() + "/hello";
        const QString build = tmp.path() + "/hello-build";
        QString out;

        QVERIFY2(run(CORVANE_CMAKE, {"--install", CORVANE_BUILD_DIR, "--prefix", prefix}, &out), qPrintable(out));

        // One version throughout: the SDK header a plug-in compiles against, the CMake package
        // find_package(Corvane <version>) checks, and the program that decides whether a
        // plug-in fits. A version bumped in one of them alone turns away every plug-in.
        const QString sdkVersion = capture(prefix + "/include/corvane/corvaneVersion.h",
                                           "^#define CORVANE_SDK_VERSION \"(\\d+\\.\\d+)\"$");
        QVERIFY2(!sdkVersion.isEmpty(), "the installed SDK headers carry no corvaneVersion.h with CORVANE_SDK_VERSION");
        const QString packageVersion = capture(prefix + "/lib/cmake/Corvane/CorvaneConfigVersion.cmake",
                                               "^set\\(PACKAGE_VERSION \"([^\"]+)\"\\)$");
        QVERIFY(packageVersion == sdkVersion || packageVersion.startsWith(sdkVersion + "."));

        // What a user gets, and nothing the tests alone need: no test translation, no Qt
        // translations of modules the program does not use, no test plug-ins.
        const QStringList lang = QDir(prefix + "/lib/corvane/lang").entryList(QDir::Files);
        QVERIFY2(lang.contains("lang_sv_SE.qm") && lang.contains("qt_sv.qm") && lang.contains("qt_de.qm"),
                 qPrintable(lang.join(' ')));
        for (const QString& f : lang)
            QVERIFY2(f.startsWith("qt_") || f.startsWith("lang_"), qPrintable(f));
        QVERIFY2(!lang.contains("lang_DEBUG.qm"), qPrintable(lang.join(' ')));
        QCOMPARE(QDir(prefix + "/lib/corvane/plugins").entryList(QDir::Files), QStringList{"flowmeter.plg"});
        for (const char* file : {"/share/applications/se.tessmark.Corvane.desktop",
                                 "/share/metainfo/se.tessmark.Corvane.metainfo.xml",
                                 "/share/icons/hicolor/scalable/apps/corvane.svg",
                                 "/share/icons/hicolor/48x48/apps/corvane.png", "/share/man/man1/corvane.1.gz",
                                 "/share/man/man1/corvane-flowsim.1.gz", "/share/doc/corvane/copyright"})
            QVERIFY2(QFile::exists(prefix + file), file);
        // The simulator of the demo is on the PATH under the program's name.
        QVERIFY(QFileInfo(prefix + "/bin/corvane-flowsim").isSymLink());
        QVERIFY2(run(prefix + "/bin/corvane-flowsim", {"--version"}, &out), qPrintable(out));
        QVERIFY2(out.endsWith("\ncorvane-flowsim " + packageVersion + "\n"), qPrintable(out));

        // The guide's files, as the guide shows them.
        QFile guide(QStringLiteral(CORVANE_SOURCE_DIR) + "/docs/plugins.md");
        QVERIFY(guide.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(guide.readAll());
        static const QRegularExpression block("<!-- file: (\\S+) -->\\s*\\n```\\w*\\n(.*?)```",
                                              QRegularExpression::DotMatchesEverythingOption);
        QStringList files;
        for (auto it = block.globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            QVERIFY(QDir().mkpath(src));
            QFile f(src + "/" + m.captured(1));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(m.captured(2).toUtf8());
            files << m.captured(1);
        }
        QCOMPARE(files, QStringList({"CMakeLists.txt", "hello.cpp"}));

        QStringList configure = {"-S", src, "-B", build, "-G", CORVANE_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix,
                                 "-DCMAKE_CXX_COMPILER=" CORVANE_CXX_COMPILER};
        if (!QString(CORVANE_SANITIZE_FLAGS).isEmpty())
            configure << "-DCMAKE_CXX_FLAGS=" CORVANE_SANITIZE_FLAGS;
        QVERIFY2(run(CORVANE_CMAKE, configure, &out), qPrintable(out));
        QVERIFY2(run(CORVANE_CMAKE, {"--build", build}, &out), qPrintable(out));
        QVERIFY2(run(CORVANE_CMAKE, {"--install", build}, &out), qPrintable(out));
        QVERIFY(QFile::exists(prefix + "/lib/corvane/plugins/hello.plg"));
        // Our own flow-meter plug-in is installed beside it, with its translations.
        QVERIFY(QFile::exists(prefix + "/lib/corvane/plugins/flowmeter.plg"));
        QVERIFY(QFile::exists(prefix + "/lib/corvane/lang/flowmeter/lang_sv_SE.qm"));

        // Started through the installed link, as a user would.
        ProgramRunner p;
        p.setProgramDir(prefix + "/bin");
        QVERIFY(QFileInfo(prefix + "/bin/corvane").isSymLink());
        QVERIFY(p.start({"-debug"}));
        // hello.plg comes second: its own item is the last thing the start-up makes.
        QVERIFY2(p.waitFor("Hello plugin: Making plugin item tree\n"), qPrintable(p.log() + p.err()));
        QTRY_VERIFY2_WITH_TIMEOUT(p.log().count("MAIN: done with Updating plugin tree\n") == 2,
                                  qPrintable(p.log() + p.err()), 20000);
        QVERIFY(p.stop());
        QVERIFY2(p.log().startsWith("cMainWindow: Version " + sdkVersion + "\n"), qPrintable(p.log()));
        QString missing;
        QVERIFY2(inOrder(p.log(),
                         {"MAIN: Found plugin directory '" + QFileInfo(prefix).canonicalFilePath() +
                              "/lib/corvane/plugins'\n",
                          "MAIN: Found plugin 'hello.plg' (2/2)\n", "cPluginHandler: Loaded plugin 'hello.plg' @ 0x",
                          "cPluginHandler: Loaded symbol '_Z12killInstanceP7cPlugin' @ 0x",
                          "cMainWindow: Executing init() method for Hello plugin\n", "Hello plugin: ready to greet\n",
                          "Hello plugin: Making plugin item tree\n", "MAIN: Updating plugin tree\n",
                          "Hello plugin: Destroyed\n", "cPluginHandler: Unloaded plugin 'hello.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + p.log()));
    }
};

QTEST_MAIN(TestPluginSdk)
#include "test_plugin_sdk.moc"
