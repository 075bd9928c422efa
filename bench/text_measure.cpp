// Measuring a screen's worth of text items, as the collection view does on every layout pass,
// beside the same strings laid out with bare Qt text layout in the same run.
#include "text/ZNFLabel.h"
#include "text/ZNFTextFormatter.h"

#include <QApplication>
#include <QTextLayout>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr double kWidth = 600;
const ZNFEdgeInsets kInsets{4, 24, 4, 24};

QVariantMap style(std::initializer_list<std::pair<const char*, QVariant>> entries) {
    QVariantMap m;
    for (const auto& [k, v] : entries)
        m.insert(QString::fromLatin1(k), v);
    return m;
}

struct Corpus {
    std::vector<ZNFAttributedString> strings;
    // What bare Qt needs for the same strings: text, font per run, line height multiple.
    struct Plain {
        QStringList paragraphs;
        QFont font;
        QList<QTextLayout::FormatRange> formats; // for the mixed strings, per paragraph 0 only
        double lineHeight = 1;
    };
    std::vector<Plain> plain;
};

const Corpus& corpus() {
    static const Corpus c = [] {
        ZNFTextFormatter f;
        f.registerKeyedAttributes({
            {"default", style({{"fontWeight", "regular"}, {"fontSize", 14}, {"color", "#2B2F36"}})},
            {"title", style({{"template", "default"},
                             {"fontWeight", "semibold"},
                             {"fontSize", 22},
                             {"align", "center"}})},
            {"body", style({{"template", "default"}, {"fontSize", 15}, {"lineHeight", 1.3}})},
            {"caption", style({{"template", "default"},
                               {"fontWeight", "medium"},
                               {"fontSize", 12},
                               {"underline", "single"}})},
        });
        const QStringList oneLine = {QStringLiteral("Import from Notes"), QStringLiteral("Send Wirelessly"),
                                     QStringLiteral("Save to iCloud"), QStringLiteral("Back"),
                                     QStringLiteral("Preparing your notes...")};
        const QString paragraph = QStringLiteral(
            "Notecrate reads your notes, their pictures and their dates, and packs them into one backup file "
            "that Tessanote imports. Nothing leaves this computer until you choose how to deliver it.");
        const QStringList keys = {"default", "title", "body", "caption"};
        Corpus out;
        for (int i = 0; i < 1000; ++i) {
            const QString key = keys[i % keys.size()];
            const auto attributes = f.attributesForKey(key);
            QString text;
            if (i % 3 == 0)
                text = paragraph + QLatin1Char('\n') + paragraph.left(60 + i % 40) + QLatin1Char('\n') +
                       paragraph;
            else
                text = oneLine[i % oneLine.size()] + QStringLiteral(" %1").arg(i);
            ZNFAttributedString s(text, attributes);
            Corpus::Plain plain;
            plain.paragraphs = text.split(QLatin1Char('\n'));
            plain.font = attributes->font->qfont();
            plain.lineHeight = attributes->paragraphStyle->lineHeightMultiple > 0
                                   ? attributes->paragraphStyle->lineHeightMultiple
                                   : 1.0;
            if (i % 10 == 7) {
                // A few strings mix styles: a bold lead-in.
                const auto bold = f.attributesForKey("title");
                s.setAttributes(bold, {0, 6});
                QTextLayout::FormatRange r;
                r.start = 0;
                r.length = 6;
                r.format.setFont(bold->font->qfont());
                plain.formats.append(r);
            }
            out.strings.push_back(s);
            out.plain.push_back(plain);
        }
        return out;
    }();
    return c;
}

void BM_ZNFLabelSizeWithWidth(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        double total = 0;
        for (const ZNFAttributedString& s : c.strings)
            total += ZNFLabel::sizeWithWidth(kWidth, s, kInsets, false).height();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.strings.size()));
}

void BM_BareQtTextLayout(benchmark::State& state) {
    const Corpus& c = corpus();
    const double available = kWidth - kInsets.left - kInsets.right;
    for (auto _ : state) {
        double total = 0;
        for (const Corpus::Plain& p : c.plain) {
            double height = 0, width = 0;
            for (qsizetype i = 0; i < p.paragraphs.size(); ++i) {
                QTextLayout layout(p.paragraphs[i], p.font);
                if (i == 0 && !p.formats.isEmpty())
                    layout.setFormats(p.formats);
                QTextOption option;
                option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                layout.setTextOption(option);
                layout.beginLayout();
                for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                    line.setLeadingIncluded(true);
                    line.setLineWidth(available);
                    height += line.height() * p.lineHeight;
                    width = std::max(width, line.naturalTextWidth());
                }
                layout.endLayout();
            }
            total += std::ceil(float(height + kInsets.top + kInsets.bottom)) +
                     std::ceil(float(width + kInsets.left + kInsets.right));
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.plain.size()));
}

BENCHMARK(BM_ZNFLabelSizeWithWidth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareQtTextLayout)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    corpus(); // fonts and styles are made before timing starts
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
