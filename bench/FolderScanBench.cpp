// The folder scan beside find over the same tree: the scan that gathers a
// site's pages (depth first, every entry tested against the filter) and
// `find` with the same name patterns, both timed by the wall clock.
//
// Usage: FolderScanBench [TREE] [benchmark flags]. Without TREE a tree of
// 10,000 small pages in 10 x 10 folders is made in a temporary folder.
#include "processing/FolderScan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

QString tree;

void BM_ScanForFiles(benchmark::State& state)
{
    const QString filter = QString::fromLatin1(kestrix::defaultFileFilter);
    size_t found = 0;
    for (auto _ : state) {
        QStringList list;
        kestrix::ScanForFiles(tree, filter, list);
        found = size_t(list.size());
        benchmark::DoNotOptimize(list);
    }
    state.counters["files"] = double(found);
}
BENCHMARK(BM_ScanForFiles)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Find(benchmark::State& state)
{
    const std::string command =
        "find '" + tree.toStdString() +
        "' -type f \\( -name '*.htm' -o -name '*.html' -o -name '*.asp' -o -name '*.php' \\)"
        " > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("find failed");
}
BENCHMARK(BM_Find)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<QTemporaryDir> made;
    if (argc > 1 && argv[1][0] != '-') {
        tree = QString::fromLocal8Bit(argv[1]);
        argv[1] = argv[0];
        ++argv;
        --argc;
    } else {
        made = std::make_unique<QTemporaryDir>();
        tree = made->path();
        for (int i = 0; i < 10000; ++i) {
            const QString folder =
                QStringLiteral("%1/s%2/t%3").arg(tree).arg(i % 10).arg(i / 10 % 10);
            QDir().mkpath(folder);
            QFile file(QStringLiteral("%1/page%2.html").arg(folder).arg(i));
            if (file.open(QIODevice::WriteOnly))
                file.write("<html><body><p>page</p></body></html>");
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
