// Measuring a screen's worth of text items, as the collection view does on every layout pass,
// beside the same strings laid out with bare Qt text layout in the same run; and texts of a
// megabyte, measured, drawn a screenful at a time, with the memory a label showing one keeps.
#include "bench_main.h"
#include "text/ZNFLabel.h"
#include "text/ZNFTextFormatter.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTextLayout>
#include <benchmark/benchmark.h>
#include <map>
#include <sys/resource.h>
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

// A megabyte of text of three kinds: one word without a break, short lines, long paragraphs.
enum LargeText { OneWord, ShortLines, Paragraphs };

const ZNFAttributedString& largeText(int kind) {
    static std::map<int, ZNFAttributedString> texts;
    auto found = texts.find(kind);
    if (found != texts.end())
        return found->second;
    constexpr qsizetype kSize = 1 << 20;
    QString text;
    text.reserve(kSize + 100);
    if (kind == OneWord) {
        text = QString(kSize, QLatin1Char('x'));
    } else if (kind == ShortLines) {
        while (text.size() < kSize)
            text += QStringLiteral("Note %1 of the export\n").arg(text.size());
    } else {
        const QString sentence =
            QStringLiteral("Notecrate reads your notes, their pictures and their dates, and packs them. ");
        while (text.size() < kSize)
            text += text.size() % 20000 < sentence.size() ? QStringLiteral("\n") + sentence : sentence;
    }
    ZNFTextFormatter f;
    f.registerKeyedAttributes({{"body", style({{"fontWeight", "regular"}, {"fontSize", 15}})}});
    return texts.emplace(kind, ZNFAttributedString(text, f.attributesForKey("body"))).first->second;
}

double residentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return 0;
}

void BM_MeasureMegabyte(benchmark::State& state) {
    const ZNFAttributedString& text = largeText(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ZNFLabel::sizeWithWidth(kWidth, text, kInsets));
}

// A label as a text item's cell shows it: sized by measuring, laid out on its first paint, then
// painted one screenful at the top and one in the middle, as scrolling does.
void BM_DrawMegabyte(benchmark::State& state) {
    const ZNFAttributedString& text = largeText(int(state.range(0)));
    const QSizeF size = ZNFLabel::sizeWithWidth(kWidth, text, kInsets);
    QImage screen(int(kWidth), 800, QImage::Format_ARGB32_Premultiplied);
    const double before = residentMegabytes();
    double kept = 0;
    for (auto _ : state) {
        ZNFLabel label(text, QRectF(QPointF(0, 0), size));
        label.setInsets(kInsets);
        for (const int top : {0, int(size.height() / 2)}) {
            screen.fill(Qt::white);
            label.render(&screen, QPoint(0, 0), QRegion(0, top, int(kWidth), screen.height()));
        }
        state.PauseTiming();
        kept = residentMegabytes() - before;
        state.ResumeTiming();
    }
    // What one label holds for a megabyte while it is shown, and the process at its largest.
    state.counters["label_MB"] = kept;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
}

BENCHMARK(BM_ZNFLabelSizeWithWidth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareQtTextLayout)->Unit(benchmark::kMillisecond);
// Aim: any megabyte measures, and draws, in under half a second; short lines stay under 100 MB.
BENCHMARK(BM_DrawMegabyte)->ArgName("kind")->DenseRange(OneWord, Paragraphs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeasureMegabyte)
    ->ArgName("kind")
    ->DenseRange(OneWord, Paragraphs)
    ->Unit(benchmark::kMillisecond);

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.widgets = true;
    program.start = [](int, char**) -> std::optional<int> {
        corpus(); // fonts and styles are made before timing starts
        return std::nullopt;
    };
});
