// The committed resources: icon images, the Windows icon and version record, the desktop
// entry and the udev rules.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <QtEndian>

#include "ImageChecks.h"
#include "res/AppIcon.h"
#include "res/version.h"
#include "ui/ControlIds.h"
#include "ui/DialogTemplate.h"

namespace {

QByteArray ReadSource(const char* relative) {
    QFile file(QStringLiteral(KX_SOURCE_DIR "/") + QString::fromUtf8(relative));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative;
    return file.readAll();
}

class ResourcesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "resources_test";
        static char* argv[] = {name, nullptr};
        if (QGuiApplication::instance() == nullptr) {
            static QGuiApplication app(argc, argv);
        }
    }
};

TEST_F(ResourcesTest, IconHasEverySizeDrawn) {
    const QIcon icon = LoadApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : kAppIconSizes) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(sizes.contains(QSize(size, size)));
        const QImage image = icon.pixmap(size, size).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_TRUE(kx::test::LooksDrawn(image, 0.3));
        // Transparent corners: an icon, not a filled square.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    }
}

TEST_F(ResourcesTest, CommittedPngsMatchTheCompiledInIcon) {
    for (int size : kAppIconSizes) {
        SCOPED_TRACE(size);
        const QImage onDisk(
            QStringLiteral(KX_SOURCE_DIR "/res/icons/kx4701setcfg-%1.png").arg(size));
        const QImage compiled(QStringLiteral(":/res/icons/kx4701setcfg-%1.png").arg(size));
        ASSERT_FALSE(onDisk.isNull());
        EXPECT_EQ(onDisk, compiled);
    }
}

// The ICO directory: one PNG entry per size, each decoding to its stated size.
TEST_F(ResourcesTest, WindowsIconHoldsEverySize) {
    const QByteArray ico = ReadSource("res/kx4701setcfg.ico");
    ASSERT_GE(ico.size(), 6);
    const auto* bytes = reinterpret_cast<const uchar*>(ico.constData());
    EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 0), 0);
    EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 2), 1);  // icon, not cursor
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    ASSERT_EQ(count, int(kAppIconSizes.size()));
    ASSERT_GE(ico.size(), 6 + 16 * count);
    for (int i = 0; i < count; ++i) {
        const uchar* entry = bytes + 6 + 16 * i;
        const int size = kAppIconSizes[std::size_t(i)];
        SCOPED_TRACE(size);
        EXPECT_EQ(entry[0], size == 256 ? 0 : size);
        EXPECT_EQ(entry[1], size == 256 ? 0 : size);
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        ASSERT_LE(qint64(offset) + length, ico.size());
        const QImage image = QImage::fromData(ico.mid(offset, length), "PNG");
        EXPECT_EQ(image.size(), QSize(size, size));
    }
}

TEST_F(ResourcesTest, SvgSourceIsAWellFormedSquareDrawing) {
    QXmlStreamReader xml(ReadSource("res/kx4701setcfg.svg"));
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QStringLiteral("svg"));
    EXPECT_EQ(xml.attributes().value(QStringLiteral("viewBox")), QStringLiteral("0 0 256 256"));
    int shapes = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            ++shapes;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GE(shapes, 5);
}

TEST_F(ResourcesTest, VersionFactsAgreeWithTheProjectVersion) {
    EXPECT_STREQ(KX_VERSION_STRING, KX_PROJECT_VERSION);
    EXPECT_EQ(QStringLiteral("%1.%2.%3.%4")
                  .arg(KX_VERSION_MAJOR)
                  .arg(KX_VERSION_MINOR)
                  .arg(KX_VERSION_PATCH)
                  .arg(KX_VERSION_BUILD),
              QStringLiteral(KX_VERSION_STRING));
    EXPECT_STREQ(KX_FILE_DESCRIPTION, "KX4701CfgTool");
    EXPECT_STREQ(KX_INTERNAL_NAME, "KX4701CfgTool");
    EXPECT_STREQ(KX_PRODUCT_NAME, "KX4701CfgTool");
    EXPECT_EQ(KX_LANGUAGE_ID, 0x0804);
    EXPECT_EQ(KX_CODE_PAGE, 936);
}

// The resource script is only compiled on Windows; here its text is checked against the
// identifiers the program uses.
TEST_F(ResourcesTest, ResourceScriptCarriesIconStringAndVersionRecord) {
    const QString rc = QString::fromUtf8(ReadSource("res/KX4701SetCfg.rc"));
    EXPECT_TRUE(rc.contains(QStringLiteral("#define IDS_ABOUTBOX %1").arg(kx::IDS_ABOUTBOX)));
    EXPECT_TRUE(rc.contains(QStringLiteral("#define IDR_MAINFRAME %1").arg(kx::IDR_MAINFRAME)));
    EXPECT_TRUE(rc.contains(QStringLiteral("IDR_MAINFRAME ICON \"kx4701setcfg.ico\"")));
    EXPECT_TRUE(rc.contains(QStringLiteral("IDS_ABOUTBOX \"关于 KX4701SetCfg(&A)...\"")));
    EXPECT_TRUE(rc.contains(QStringLiteral("#pragma code_page(65001)")));
    EXPECT_TRUE(rc.contains(QStringLiteral("BLOCK \"080403a8\"")));  // 0x0804, code page 936
    EXPECT_TRUE(rc.contains(QStringLiteral("VALUE \"Translation\", KX_LANGUAGE_ID, KX_CODE_PAGE")));
    for (const char* key :
         {"FileDescription", "InternalName", "ProductName", "FileVersion", "ProductVersion"}) {
        EXPECT_TRUE(rc.contains(QStringLiteral("VALUE \"%1\"").arg(QLatin1String(key)))) << key;
    }
}

// One CONTROL or ICON statement of a DIALOGEX block, read back into the table's terms.
struct RcControl {
    QString idName;
    kx::ui::ControlKind kind;
    QString caption;
    kx::ui::DluRect rect;
    std::uint32_t styles;
};

// Fields of a statement, split at commas outside quotes, trimmed, quotes removed.
QStringList RcFields(const QString& text) {
    QStringList fields(QString{});
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == u',' && !quoted) {
            fields.append(QString{});
        } else {
            fields.last().append(c);
        }
    }
    for (QString& field : fields) {
        field = field.trimmed();
    }
    return fields;
}

RcControl ParseRcControl(const QString& line) {
    using kx::ui::ControlKind;
    static const QMap<QString, std::uint32_t> BITS{
        {"WS_TABSTOP", kx::ui::STYLE_TABSTOP},
        {"WS_GROUP", kx::ui::STYLE_GROUP},
        {"WS_BORDER", kx::ui::STYLE_BORDER},
        {"WS_VSCROLL", kx::ui::STYLE_VSCROLL},
        {"ES_AUTOHSCROLL", kx::ui::STYLE_AUTOHSCROLL},
        {"ES_READONLY", kx::ui::STYLE_READONLY},
        {"BS_AUTOCHECKBOX", kx::ui::STYLE_AUTOCHECKBOX},
        {"BS_DEFPUSHBUTTON", kx::ui::STYLE_DEFPUSHBUTTON},
        {"SS_NOPREFIX", kx::ui::STYLE_NOPREFIX},
        {"CBS_DROPDOWN", kx::ui::STYLE_DROPDOWN},
        {"CBS_SORT", kx::ui::STYLE_SORT},
        {"SS_CENTERIMAGE", kx::ui::STYLE_CENTERIMAGE}};
    const bool icon = line.startsWith(QStringLiteral("ICON "));
    const QStringList f = RcFields(line.mid(line.indexOf(u' ') + 1));
    // ICON icon, id, x, y, cx, cy; CONTROL text, id, class, style, x, y, cx, cy
    const qsizetype at = icon ? 2 : 4;
    RcControl c{f.value(1),
                ControlKind::Icon,
                icon ? QString{} : f.value(0),
                {f.value(at).toInt(), f.value(at + 1).toInt(), f.value(at + 2).toInt(),
                 f.value(at + 3).toInt()},
                0};
    QStringList style = icon ? QStringList{} : f.value(3).split(u'|');
    for (QString& name : style) {
        name = name.trimmed();
        c.styles |= BITS.value(name, 0);
    }
    const QString cls = f.value(2);
    if (icon) {
        c.kind = ControlKind::Icon;
    } else if (cls == u"ComboBox") {
        c.kind = ControlKind::ComboBox;
    } else if (cls == u"Edit") {
        c.kind = ControlKind::Edit;
    } else if (cls == u"Static") {
        c.kind = ControlKind::Label;
    } else if (style.contains(QStringLiteral("BS_GROUPBOX"))) {
        c.kind = ControlKind::GroupBox;
    } else if (style.contains(QStringLiteral("BS_AUTOCHECKBOX"))) {
        c.kind = ControlKind::CheckBox;
    } else {
        c.kind = ControlKind::PushButton;
    }
    return c;
}

// The Windows program shows the resource script's templates, the Qt program the table's:
// both must hold the same controls, identifiers, kinds, captions, styles and positions.
TEST_F(ResourcesTest, ResourceScriptTemplatesAgreeWithTheTemplateTable) {
    const QString rc = QString::fromUtf8(ReadSource("res/KX4701SetCfg.rc"));
    for (const kx::ui::DialogTemplate* tmpl :
         {&kx::ui::ConfigDialogTemplate(), &kx::ui::AboutBoxTemplate()}) {
        SCOPED_TRACE(tmpl->name);
        const QString name = QString::fromUtf8(tmpl->name);
        EXPECT_TRUE(rc.contains(QStringLiteral("#define %1 %2").arg(name).arg(tmpl->id)));
        const qsizetype start = rc.indexOf(name + QStringLiteral(" DIALOGEX "));
        ASSERT_GE(start, 0);
        const QString block = rc.mid(start, rc.indexOf(QStringLiteral("\nEND"), start) - start);
        EXPECT_TRUE(block.startsWith(
            QStringLiteral("%1 DIALOGEX 0, 0, %2, %3").arg(name).arg(tmpl->cx).arg(tmpl->cy)));
        EXPECT_TRUE(block.contains(QStringLiteral("\nCAPTION \"%1\"\n").arg(tmpl->caption)));
        EXPECT_TRUE(block.contains(
            QStringLiteral("\nFONT %1, \"%2\",").arg(tmpl->pointSize).arg(tmpl->fontFace)));
        EXPECT_TRUE(block.contains(QStringLiteral("WS_POPUP | ")));
        EXPECT_FALSE(block.contains(QStringLiteral("MINIMIZEBOX")));
        std::vector<RcControl> parsed;
        const QStringList lines = block.mid(block.indexOf(QStringLiteral("\nBEGIN\n")) + 7)
                                      .split(u'\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) {
            parsed.push_back(ParseRcControl(line.trimmed()));
        }
        ASSERT_EQ(parsed.size(), tmpl->controls.size());
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            const kx::ui::ControlTemplate& want = tmpl->controls[i];
            const RcControl& got = parsed[i];
            SCOPED_TRACE(i);
            const QString idName = want.id == kx::IDC_STATIC_ID ? QStringLiteral("IDC_STATIC")
                                                                : QString::fromUtf8(want.name);
            EXPECT_EQ(got.idName, idName);
            if (want.id > kx::IDOK_BUTTON) {
                EXPECT_TRUE(
                    rc.contains(QStringLiteral("#define %1 %2\n").arg(idName).arg(want.id)));
            }
            EXPECT_EQ(got.kind, want.kind);
            EXPECT_EQ(got.caption, QString::fromUtf8(want.caption));
            EXPECT_EQ(got.rect, want.rect);
            EXPECT_EQ(got.styles, want.styles);
        }
    }
}

TEST_F(ResourcesTest, DesktopEntryStartsTheToolWithItsIcon) {
    const QStringList lines = QString::fromUtf8(ReadSource("res/kx4701setcfg.desktop"))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QStringLiteral("[Desktop Entry]"));
    QMap<QString, QString> keys;
    for (const QString& line : lines.mid(1)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        ASSERT_GT(eq, 0) << line.toStdString();
        EXPECT_FALSE(keys.contains(line.left(eq))) << "duplicate " << line.toStdString();
        keys.insert(line.left(eq), line.mid(eq + 1));
    }
    EXPECT_EQ(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keys.value(QStringLiteral("Exec")), QStringLiteral("KX4701SetCfg"));
    EXPECT_EQ(keys.value(QStringLiteral("Icon")), QStringLiteral("kx4701setcfg"));
    EXPECT_EQ(keys.value(QStringLiteral("Name[zh_CN]")), QStringLiteral("KX4701配置工具"));
    EXPECT_FALSE(keys.value(QStringLiteral("Name")).isEmpty());
    EXPECT_TRUE(keys.value(QStringLiteral("Categories")).endsWith(QLatin1Char(';')));
}

// udev rules: every rule line is split into its key/operator/value parts.
struct UdevClause {
    QString key, op, value;
};

std::vector<std::vector<UdevClause>> UdevRules(const QString& text) {
    static const QRegularExpression clause(QString::fromUtf8(
        R"re(\s*([A-Za-z_]+(?:\{[^}]*\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*,?)re"));
    std::vector<std::vector<UdevClause>> rules;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        std::vector<UdevClause> rule;
        qsizetype pos = 0;
        while (pos < line.size()) {
            const QRegularExpressionMatch m =
                clause.match(line, pos, QRegularExpression::NormalMatch,
                             QRegularExpression::AnchorAtOffsetMatchOption);
            if (!m.hasMatch()) {
                ADD_FAILURE() << "unparsable udev rule: " << line.toStdString();
                break;
            }
            rule.push_back({m.captured(1), m.captured(2), m.captured(3)});
            pos = m.capturedEnd();
        }
        rules.push_back(rule);
    }
    return rules;
}

TEST_F(ResourcesTest, UdevRulesGrantTheSeatAccessToKx4701HidrawOnly) {
    const auto rules = UdevRules(QString::fromUtf8(ReadSource("res/60-kx4701.rules")));
    ASSERT_FALSE(rules.empty());
    for (const auto& rule : rules) {
        QMap<QString, QString> match, assign;
        for (const UdevClause& c : rule) {
            if (c.op == QStringLiteral("==")) {
                match.insert(c.key, c.value);
            } else {
                assign.insert(c.key + c.op, c.value);
            }
            // Never world-writable, whatever else the rule does.
            if (c.key == QStringLiteral("MODE")) {
                bool ok = false;
                const int mode = c.value.toInt(&ok, 8);
                EXPECT_TRUE(ok && (mode & 0002) == 0) << "MODE " << c.value.toStdString();
            }
        }
        EXPECT_EQ(match.value(QStringLiteral("SUBSYSTEM")), QStringLiteral("hidraw"));
        EXPECT_EQ(match.value(QStringLiteral("ATTRS{idVendor}")), QStringLiteral("3c5b"));
        EXPECT_EQ(match.value(QStringLiteral("ATTRS{idProduct}")), QStringLiteral("b207"));
        EXPECT_EQ(assign.value(QStringLiteral("TAG+=")), QStringLiteral("uaccess"));
        EXPECT_FALSE(assign.contains(QStringLiteral("MODE="))) << "access comes from the seat";
    }
}

// The parser above must see a world-writable mode for what it is, or the test proves nothing.
TEST_F(ResourcesTest, UdevParserCatchesWorldWritableModes) {
    const auto rules = UdevRules(QStringLiteral(
        "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"3c5b\", MODE=\"0666\", TAG+=\"uaccess\""));
    ASSERT_EQ(rules.size(), 1u);
    ASSERT_EQ(rules[0].size(), 4u);
    EXPECT_EQ(rules[0][2].key, QStringLiteral("MODE"));
    EXPECT_EQ(rules[0][2].value.toInt(nullptr, 8) & 0002, 0002);
}

}  // namespace
