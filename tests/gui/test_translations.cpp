// Every text of the host that goes through Qt's translation is in the Swedish file, translated,
// and marked in the test translation; every catalogue of the host and of the flow-meter plug-in
// has a finished translation of every text in its code. The texts are taken from the sources by
// lupdate, so a new text without its Swedish fails here.
#include <QFile>
#include <QFileInfo>
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

// The texts of a catalogue lupdate has merged the code into that have no finished translation:
// new ones (unfinished), empty ones, and plural forms left empty. Those lupdate no longer finds
// in the code (vanished, obsolete) are not asked for.
QStringList unfinished(const QString& path, bool* readable)
{
    QStringList out;
    QFile f(path);
    *readable = f.open(QIODevice::ReadOnly);
    if (!*readable)
        return out;
    QXmlStreamReader xml(&f);
    QString context, source, type, text;
    bool emptyForm = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            if (type != QLatin1String("vanished") && type != QLatin1String("obsolete")
                && (!type.isEmpty() || text.trimmed().isEmpty() || emptyForm))
                out << context + ": " + source;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message")) {
            source.clear();
            type.clear();
            text.clear();
            emptyForm = false;
        } else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation"))
            type = xml.attributes().value("type").toString();
        else if (xml.name() == QLatin1String("numerusform")) {
            const QString form = xml.readElementText();
            emptyForm = emptyForm || form.trimmed().isEmpty();
            text += form;
        }
        // The translation's own text, of a message without plural forms.
        if (xml.isStartElement() && xml.name() == QLatin1String("translation")) {
            xml.readNext();
            if (xml.isCharacters())
                text += xml.text();
        }
    }
    *readable = !xml.hasError();
    return out;
}

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

    void catalogueTranslatesEveryTextOfTheCode_data()
    {
        QTest::addColumn<QString>("sources");
        QTest::addColumn<QString>("catalogue");
        const QString root = QStringLiteral(CORVANE_SOURCE_DIR);
        for (const char* file : {"lang_sv_SE.ts", "lang_en.ts", "lang_DEBUG.ts"})
            QTest::newRow(qPrintable(QString("host ") + file)) << root + "/src" << root + "/src/lang/" + file;
        for (const char* file : {"lang_sv_SE.ts", "lang_en.ts"})
            QTest::newRow(qPrintable(QString("flow meter ") + file))
                << root + "/plugins/flowmeter" << root + "/plugins/flowmeter/lang/" + file;
    }

    // The catalogue as lupdate would make it of today's code, in a scratch copy: a text of the
    // code that it has no finished translation of is listed.
    void catalogueTranslatesEveryTextOfTheCode()
    {
        QFETCH(QString, sources);
        QFETCH(QString, catalogue);
        QTemporaryDir tmp;
        const QString scratch = tmp.filePath(QFileInfo(catalogue).fileName());
        QVERIFY(QFile::copy(catalogue, scratch));
        QFile::setPermissions(scratch, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        lupdate.start(CORVANE_LUPDATE, {"-silent", "-locations", "none", sources, "-ts", scratch});
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);
        bool readable = false;
        const QStringList missing = unfinished(scratch, &readable);
        QVERIFY2(readable, qPrintable(scratch));
        // One line each: QTest cuts a long message short.
        for (const QString& text : missing)
            qWarning().noquote() << text;
        QVERIFY2(missing.isEmpty(), qPrintable(QString("%1 texts without a finished translation in %2, listed above")
                                                   .arg(missing.size())
                                                   .arg(catalogue)));
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
