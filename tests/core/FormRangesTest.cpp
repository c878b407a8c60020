#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <map>
#include <string>

#include "core/FieldRanges.h"

namespace {

struct FormRange {
    double Min = 0;
    double Max = 0;
    int Given = 0; // how many of MinValue and MaxValue the form sets
};

// Every numeric field of the main window's description with the range it
// sets.
std::map<std::string, FormRange> FormRanges()
{
    QFile File(VELMOR_SOURCE_DIR "/ui/Vlm_main.ui");
    EXPECT_TRUE(File.open(QIODevice::ReadOnly)) << File.fileName().toStdString();
    QXmlStreamReader Xml(&File);
    std::map<std::string, FormRange> Out;
    std::string Field; // the numeric field being read, if any
    int Depth = 0, FieldDepth = -1;
    while (!Xml.atEnd()) {
        Xml.readNext();
        if (Xml.isEndElement() && --Depth < FieldDepth)
            FieldDepth = -1;
        if (!Xml.isStartElement())
            continue;
        ++Depth;
        const auto Attr = [&](const char* Name) { return Xml.attributes().value(QLatin1String(Name)).toString(); };
        if (Xml.name() == QLatin1String("widget") && Attr("class") == QLatin1String("TFloatEdit")) {
            Field = Attr("name").toStdString();
            FieldDepth = Depth;
            Out[Field];
        } else if (FieldDepth >= 0 && Depth == FieldDepth + 1 && Xml.name() == QLatin1String("property")) {
            const QString Name = Attr("name");
            if (Name != QLatin1String("MinValue") && Name != QLatin1String("MaxValue"))
                continue;
            Xml.readNextStartElement(); // <double>
            ++Depth;
            const double V = Xml.readElementText().toDouble();
            --Depth;
            (Name == QLatin1String("MinValue") ? Out[Field].Min : Out[Field].Max) = V;
            ++Out[Field].Given;
        }
    }
    EXPECT_FALSE(Xml.hasError()) << Xml.errorString().toStdString();
    return Out;
}

TEST(FieldRanges, TheFormSetsTheTablesRangeOnEveryNumericField)
{
    namespace F = Core::Fields;
    const std::map<std::string, Core::FieldRange> Table = {
        {"feCw", F::Current},       {"feCa", F::Current},      {"feCh", F::Current},
        {"feNc", F::Coordinate},    {"feNr", F::Coordinate},   {"feHome", F::Coordinate},
        {"feVm", F::Speed},         {"feVmax", F::Speed},      {"feVw", F::WorkingSpeed},
        {"feAw", F::Acceleration},  {"feVc", F::Velocity},     {"feAdc", F::Supply},
    };
    const std::map<std::string, FormRange> Form = FormRanges();
    for (const auto& [Name, Range] : Form) {
        const auto Row = Table.find(Name);
        ASSERT_NE(Row, Table.end()) << Name << " is a numeric field the table does not know";
        EXPECT_EQ(Range.Given, 2) << Name;
        EXPECT_EQ(Range.Min, Row->second.Min) << Name;
        EXPECT_EQ(Range.Max, Row->second.Max) << Name;
    }
    for (const auto& Row : Table)
        EXPECT_EQ(Form.count(Row.first), 1u) << Row.first << " is not in the form";
}

} // namespace
