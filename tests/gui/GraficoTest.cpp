// The window "Grafico" over the core with fakes and a history prepared
// with the sqlite3 tool around the present time: the curve of one name per
// span with its gaps, the time axis and the next cycle's point. The menu
// item without a history is in FinestreTest.

#include <gtest/gtest.h>

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <sstream>

#include "Postazione.h"
#include "SqliteTool.h"
#include "mainwindow/Grafico.h"

namespace tarvel {
namespace {

using test::Sqlite;

using Curva = std::vector<std::vector<std::pair<qint64, double>>>;

class GraficoTest : public test::Postazione {
  protected:
    GraficoTest() : Postazione(true) {
        // Tensione two days and 50 minutes ago, a failed read 40 minutes
        // ago, 30 minutes ago; Valore 10 minutes ago.
        const char* const righe[][3] = {{"-2 days", "Tensione", "7"},
                                        {"-50 minutes", "Tensione", "1"},
                                        {"-40 minutes", "Tensione", "NULL"},
                                        {"-30 minutes", "Tensione", "3"},
                                        {"-10 minutes", "Valore", "42"}};
        std::string sql =
            "CREATE TABLE history(time TEXT NOT NULL, cycle INTEGER NOT NULL, device INTEGER "
            "NOT NULL, name TEXT NOT NULL, value, line INTEGER NOT NULL);";
        for (const auto& r : righe)
            sql +=
                std::string("INSERT INTO history VALUES(strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '") +
                r[0] + "'), 1, 1, '" + r[1] + "', " + r[2] + ", 1);";
        EXPECT_EQ(Sqlite(folder / "storico.db", sql), "");
        // The times in ms since 1970, read back by the tool.
        std::istringstream tempi(Sqlite(folder / "storico.db",
                                        "SELECT strftime('%s', time) * 1000 + substr(time, 21, 3) "
                                        "FROM history WHERE name = 'Tensione' ORDER BY time"));
        for (qint64 t; tempi >> t;) ms.push_back(t);
        EXPECT_EQ(ms.size(), 4u);

        p().ini.set("History", "File", "storico.db");
        avvia();
    }
    Grafico* finestra() { return app.mainForm().findChild<Grafico*>(); }
    QComboBox* scelta(const char* nome) { return controllo<QComboBox>(nome, finestra()); }
    QChart* grafico() { return finestra()->findChild<QChartView*>()->chart(); }
    Curva curva() {
        Curva linee;
        for (QAbstractSeries* serie : grafico()->series()) {
            linee.emplace_back();
            for (const QPointF& punto : static_cast<QLineSeries*>(serie)->points())
                linee.back().emplace_back(static_cast<qint64>(punto.x()), punto.y());
        }
        return linee;
    }

    std::vector<qint64> ms;  // Tensione's times, oldest first
};

// Each span shows the points inside it, a line broken at each failed read,
// on a time axis that ends now in local time (24 hours still in hours and
// minutes); the open window draws the point of the cycle that just ended.
TEST_F(GraficoTest, EachSpanShowsItsCurveWithGapsAndEveryCycleItsPoint) {
    azione("MenuGrafico")->trigger();
    ASSERT_NE(finestra(), nullptr) << "the menu item is on with a history";
    EXPECT_EQ(scelta("Cmb_Valore")->count(), 2);
    scelta("Cmb_Valore")->setCurrentIndex(scelta("Cmb_Valore")->findText("Tensione"));
    const struct {
        int indice;
        const char* span;
        Curva curve;
        const char* format;
    } cases[] = {
        {1, "24 ore", {{{ms[1], 1}}, {{ms[3], 3}}}, "HH:mm"},
        {2, "7 giorni", {{{ms[0], 7}, {ms[1], 1}}, {{ms[3], 3}}}, "dd/MM HH:mm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.span);
        EXPECT_EQ(scelta("Cmb_Intervallo")->itemText(c.indice), c.span);
        scelta("Cmb_Intervallo")->setCurrentIndex(c.indice);
        EXPECT_EQ(curva(), c.curve);
        auto* tempo = static_cast<QDateTimeAxis*>(grafico()->axes(Qt::Horizontal).at(0));
        EXPECT_EQ(tempo->format(), c.format);
        EXPECT_LE(std::abs(tempo->max().msecsTo(QDateTime::currentDateTime())), 5000);
        EXPECT_EQ(tempo->max().timeSpec(), Qt::LocalTime);
    }

    const qint64 prima = QDateTime::currentMSecsSinceEpoch();
    for (const char* voce : {"MenuAvvio", "MenuFerma"}) azione(voce)->trigger();
    const Curva linee = curva();
    ASSERT_EQ(linee.size(), 2u);
    ASSERT_EQ(linee[1].size(), 2u);
    EXPECT_EQ(linee[1][1].second, 230.1);
    EXPECT_GE(linee[1][1].first, prima);
    EXPECT_LE(linee[1][1].first, QDateTime::currentMSecsSinceEpoch());
}

}  // namespace
}  // namespace tarvel
