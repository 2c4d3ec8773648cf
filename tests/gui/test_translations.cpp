// Every text of the host that goes through Qt's translation is in the Swedish file, translated,
// and marked in the test translation. The texts are taken from the sources by lupdate, so a new
// text without its Swedish fails here.
#include <QFile>
#include <QKeySequence>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString translation;
    QString type;
};

// context + '\x1f' + source -> translation
using Catalogue = QMap<QString, Message>;

QString key(const QString& context, const QString& source)
{
    return context + QChar(0x1f) + source;
}

Catalogue read(const QString& path)
{
    Catalogue c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return c;
    QXmlStreamReader xml(&f);
    QString context, source;
    Message m;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            m.type = xml.attributes().value("type").toString();
            m.translation = xml.readElementText();
            c.insert(key(context, source), m);
        }
    }
    return xml.hasError() ? Catalogue() : c;
}

// Shortcuts are translated as key sequences, which a mark would break.
bool isKeySequence(const QString& source)
{
    return source.startsWith("Ctrl+");
}

const QString lang = QStringLiteral(CORVANE_SOURCE_DIR) + "/src/lang/";

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT
    Catalogue used;

private slots:
    void initTestCase()
    {
        QTemporaryDir tmp;
        QProcess lupdate;
        lupdate.start(CORVANE_LUPDATE, {"-silent", "-locations", "none", QStringLiteral(CORVANE_SOURCE_DIR) + "/src",
                                        "-ts", tmp.path() + "/used.ts"});
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);
        used = read(tmp.path() + "/used.ts");
        // The host has texts in these four contexts at least; an empty harvest means lupdate failed.
        QVERIFY(used.size() > 40);
        for (const char* context : {"cMainWindow", "cSetup", "QObject", "Dialog"})
            QVERIFY2(std::any_of(used.keyBegin(), used.keyEnd(),
                                 [&](const QString& k) { return k.startsWith(QString(context) + QChar(0x1f)); }),
                     context);
    }

    void swedishHasEveryText()
    {
        const Catalogue sv = read(lang + "lang_sv_SE.ts");
        QVERIFY(!sv.isEmpty());
        QStringList missing;
        for (auto it = used.cbegin(); it != used.cend(); ++it) {
            const auto found = sv.constFind(it.key());
            if (found == sv.cend() || found->translation.isEmpty() || !found->type.isEmpty())
                missing << QString(it.key()).replace(QChar(0x1f), ": ");
        }
        QVERIFY2(missing.isEmpty(), qPrintable("not translated to Swedish:\n" + missing.join('\n')));
    }

    void debugMarksEveryText()
    {
        const Catalogue dbg = read(lang + "lang_DEBUG.ts");
        const Catalogue en = read(lang + "lang_en.ts");
        QVERIFY(!dbg.isEmpty());
        QCOMPARE(dbg.keys(), en.keys());
        QStringList wrong;
        for (auto it = used.cbegin(); it != used.cend(); ++it) {
            const QString source = it.key().section(QChar(0x1f), 1);
            const auto found = dbg.constFind(it.key());
            if (found == dbg.cend()) {
                wrong << "missing: " + source;
                continue;
            }
            const QString t = found->translation;
            const bool ok = isKeySequence(source)
                                ? t == source && !QKeySequence(t).isEmpty()
                                : t.startsWith(QChar(0xab)) && t.contains(QChar(0xbb)) && t.contains(source.trimmed());
            if (!ok)
                wrong << source + " -> " + t;
            if (!en.contains(it.key()))
                wrong << "not in lang_en: " + source;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "test_translations.moc"
