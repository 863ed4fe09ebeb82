// The manual pages against each program's --help: every option, command and
// exit status the help lists is an item of the page, and the page lists none
// that the program lost. A new option fails here until it is documented.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

QString page(const QString &program)
{
    QFile f(QStringLiteral(CUSTDISP_MAN_DIR "/%1.1").arg(program));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString help(const QString &binary)
{
    QProcess p;
    p.start(binary, {QStringLiteral("--help")});
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The lines under a heading of the help ("Options:"), up to the next blank line.
QString helpBlock(const QString &help, const QString &heading)
{
    const qsizetype start = help.indexOf(QLatin1Char('\n') + heading + QLatin1Char('\n'));
    if (start < 0)
        return {};
    const qsizetype from = start + heading.size() + 2;
    const qsizetype end = help.indexOf(QStringLiteral("\n\n"), from);
    return help.mid(from, end < 0 ? -1 : end - from);
}

// One roff request line as the reader sees it: font alternations (.BR, .BI
// ...) join their arguments, .B and .I separate them by blanks.
QString plainLine(const QString &line)
{
    QString text = line;
    if (text.startsWith(QLatin1Char('.'))) {
        const qsizetype blank = text.indexOf(QLatin1Char(' '));
        const QString macro = blank < 0 ? text.mid(1) : text.mid(1, blank - 1);
        static const QRegularExpression argument(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
        QStringList args;
        for (const QRegularExpressionMatch &m : argument.globalMatch(blank < 0 ? QString() : text.mid(blank + 1)))
            args.append(m.captured(1) + m.captured(2));
        static const QStringList alternating{QStringLiteral("BI"), QStringLiteral("BR"), QStringLiteral("IB"),
                                             QStringLiteral("IR"), QStringLiteral("RB"), QStringLiteral("RI")};
        text = args.join(alternating.contains(macro) ? QString() : QStringLiteral(" "));
    }
    static const QRegularExpression font(QStringLiteral(R"(\\f[BIRP])"));
    return text.remove(font).replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

// The tags of the .TP items in one section of the page (".SH OPTIONS").
QStringList tags(const QString &roff, const QString &section)
{
    QStringList result;
    bool inSection = false;
    const QStringList lines = roff.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(QLatin1String(".SH ")))
            inSection = plainLine(lines.at(i)) == section;
        else if (inSection && lines.at(i) == QLatin1String(".TP") && i + 1 < lines.size())
            result.append(plainLine(lines.at(++i)));
    }
    return result;
}

QSet<QString> captures(const QRegularExpression &pattern, const QStringList &texts)
{
    QSet<QString> found;
    for (const QString &text : texts) {
        for (const QRegularExpressionMatch &m : pattern.globalMatch(text))
            found.insert(m.captured(1));
    }
    return found;
}

QStringList sorted(const QSet<QString> &set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return list;
}

}  // namespace

class TestManPages : public QObject {
    Q_OBJECT

private slots:
    void helpAndPageListTheSame_data();
    void helpAndPageListTheSame();
    void pageIsForThisVersion_data();
    void pageIsForThisVersion();
};

void TestManPages::helpAndPageListTheSame_data()
{
    QTest::addColumn<QString>("binary");
    QTest::addColumn<QString>("heading");   // of the block in --help
    QTest::addColumn<QString>("helpItem");  // one item of that block, captured
    QTest::addColumn<QString>("section");   // of the page
    QTest::addColumn<QString>("tagItem");   // one item of a .TP tag, captured

    const QString longOption = QStringLiteral(R"(^  (?:-\w, )?(--[\w-]+))");
    const QString longOptionInTag = QStringLiteral(R"((?:^|[ ,])(--[\w-]+))");
    QTest::newRow("custdisp options") << CUSTDISP_BINARY << "Options:" << longOption << "OPTIONS" << longOptionInTag;
    QTest::newRow("custdisp-sim options") << CUSTDISP_SIM << "Options:" << longOption << "OPTIONS" << longOptionInTag;
    QTest::newRow("custdisp-cli options") << CUSTDISP_CLI << "Options:" << longOption << "OPTIONS" << longOptionInTag;
    // clang-format off
    QTest::newRow("custdisp-cli commands") << CUSTDISP_CLI << "Commands:" << R"(^  (\w+))" << "COMMANDS" << R"(^(\w+))";
    // clang-format on
    // clang-format off
    QTest::newRow("custdisp-cli exit codes")
        << CUSTDISP_CLI << "Exit codes:" << R"((?:^|  )\s*(\d+) )" << "EXIT STATUS" << R"(^(\d+)$)";
    // clang-format on
}

void TestManPages::helpAndPageListTheSame()
{
    QFETCH(QString, binary);
    QFETCH(QString, heading);
    QFETCH(QString, helpItem);
    QFETCH(QString, section);
    QFETCH(QString, tagItem);

    const QString block = helpBlock(help(binary), heading);
    const QSet<QString> inHelp = captures(
        QRegularExpression(helpItem, QRegularExpression::MultilineOption), {block});
    QVERIFY2(inHelp.size() >= 3, qPrintable(QStringLiteral("too few items under '%1' in the help").arg(heading)));

    const QString roff = page(binary.section(QLatin1Char('/'), -1));
    QVERIFY2(!roff.isEmpty(), "the page is missing");
    const QSet<QString> inPage = captures(QRegularExpression(tagItem), tags(roff, section));

    const QStringList lost = sorted(inPage - inHelp);
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("in the page, not in the help: ") + lost.join(u' ')));
    const QStringList undocumented = sorted(inHelp - inPage);
    QVERIFY2(undocumented.isEmpty(),
             qPrintable(QStringLiteral("in the help, not in the page: ") + undocumented.join(u' ')));
}

void TestManPages::pageIsForThisVersion_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("custdisp") << "custdisp";
    QTest::newRow("custdisp-cli") << "custdisp-cli";
    QTest::newRow("custdisp-sim") << "custdisp-sim";
}

void TestManPages::pageIsForThisVersion()
{
    QFETCH(QString, program);
    const QString roff = page(program);
    const QString name = QString(program).replace(QStringLiteral("-"), QStringLiteral("\\-"));

    // man and whatis find the page by these two lines.
    QVERIFY2(roff.contains(QStringLiteral(".TH %1 1 ").arg(name.toUpper())), "no title line for section 1");
    QVERIFY2(roff.contains(QStringLiteral("\n.SH NAME\n%1 \\- ").arg(name)), "the NAME line is not 'program \\- summary'");
    static const QRegularExpression version(QStringLiteral("^\\.TH .* \"custdisp ([^\"]*)\""),
                                            QRegularExpression::MultilineOption);
    QCOMPARE(version.match(roff).captured(1), QStringLiteral(CUSTDISP_VERSION));
}

QTEST_GUILESS_MAIN(TestManPages)
#include "tst_manpages.moc"
