// ROC curves drawn as SVG files through cairo: a square plot of the hit rate against the false
// alarm rate with the random rating's diagonal, labelled axes and a legend.
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/files.hpp"
#include "cli/spreadsheet_files.hpp"

namespace cli {
namespace {

constexpr double page = 480, left = 72, top = 48, side = 360;  // the plot square: left..left+side, top..top+side

cairo_status_t collect(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

void text(cairo_t* cr, const std::string& line, double x, double y, double alignX, double angle = 0) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, line.c_str(), &extents);
    cairo_save(cr);
    cairo_move_to(cr, x, y);
    cairo_rotate(cr, angle);
    cairo_rel_move_to(cr, -extents.width * alignX - extents.x_bearing, 0);
    cairo_show_text(cr, line.c_str());
    cairo_restore(cr);
}

std::string draw(const std::string& title, const RocCurve& curve, const host::Table& result) {
    std::string svg;
    cairo_surface_t* surface = cairo_svg_surface_create_for_stream(collect, &svg, page, page + 40);
    cairo_t* cr = cairo_create(surface);
    auto px = [](double x) { return left + side * x; };
    auto py = [](double y) { return top + side * (1 - y); };
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    // Frame, ticks and their numbers.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, left, top, side, side);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 11);
    for (int k = 0; k <= 5; ++k) {
        const double v = k / 5.0;
        char label[8];
        std::snprintf(label, sizeof label, "%.1f", v);
        cairo_move_to(cr, px(v), top + side);
        cairo_line_to(cr, px(v), top + side + 5);
        cairo_move_to(cr, left - 5, py(v));
        cairo_line_to(cr, left, py(v));
        cairo_stroke(cr);
        text(cr, label, px(v), top + side + 18, 0.5);
        text(cr, label, left - 8, py(v) + 4, 1);
    }
    cairo_set_font_size(cr, 13);
    text(cr, curve.xLabel, left + side / 2, top + side + 38, 0.5);
    text(cr, curve.yLabel, left - 36, top + side / 2, 0.5, -1.5707963267948966);
    text(cr, title, left + side / 2, top - 18, 0.5);

    // The random rating's diagonal, then the curve.
    const double dash[] = {6, 4};
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    cairo_set_dash(cr, dash, 2, 0);
    cairo_move_to(cr, px(0), py(0));
    cairo_line_to(cr, px(1), py(1));
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_source_rgb(cr, 0.12, 0.47, 0.71);
    cairo_set_line_width(cr, 2);
    for (std::size_t i = 0; i < curve.points; ++i) {
        const double x = std::get<double>(result.at(curve.firstPointRow + i, 0));
        const double y = std::get<double>(result.at(curve.firstPointRow + i, 1));
        (i == 0 ? cairo_move_to : cairo_line_to)(cr, px(x), py(y));
    }
    cairo_stroke(cr);

    // Legend below the plot.
    char name[64];
    std::snprintf(name, sizeof name, "ROC curve (AUROC %.4f)", curve.auroc);
    const double legend = top + side + 62;
    cairo_set_font_size(cr, 12);
    cairo_move_to(cr, left, legend);
    cairo_line_to(cr, left + 30, legend);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, name, left + 38, legend + 4, 0);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, name, &extents);
    const double next = left + 38 + extents.x_advance + 24;
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    cairo_set_line_width(cr, 1);
    cairo_set_dash(cr, dash, 2, 0);
    cairo_move_to(cr, next, legend);
    cairo_line_to(cr, next + 30, legend);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, "Random rating", next + 38, legend + 4, 0);

    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) throw SystemError(std::string("cannot draw a plot: ") + cairo_status_to_string(status));
    return svg;
}

// Letters, digits, '-' and '_' of a sheet's name, for a file name.
std::string fileNamePart(const std::string& name) {
    std::string out;
    for (unsigned char c : name) out += std::isalnum(c) || c == '-' || c == '_' ? static_cast<char>(c) : '_';
    return out;
}

}  // namespace

std::vector<std::string> writeCurvePlots(const Workbook& book, const std::vector<FormulaOutcome>& outcomes,
                                         const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        throw SystemError(folder + ": cannot make the folder for the plots: " + error.message());
    // The fonts' caches go with the plots, however drawing ends: the command draws nothing more,
    // and a leak checker sees nothing left behind.
    struct FontCaches {
        ~FontCaches() {
            cairo_debug_reset_static_data();
            FcFini();
        }
    } fontCaches;
    std::vector<std::string> written;
    for (const FormulaOutcome& outcome : outcomes) {
        RocCurve curve;
        if (!findRocCurve(outcome, curve)) continue;
        const std::string& sheet = book.sheets[outcome.sheet].name;
        const std::string cell = cellName(outcome.row, outcome.column);
        const std::string path =
            (std::filesystem::path(folder) / ("roc_" + fileNamePart(sheet) + "_" + cell + ".svg")).string();
        const std::string svg = draw("ROC curve of " + sheet + "!" + cell, curve, *outcome.result);
        SafeReplace file(path);
        file.write(svg);
        file.commit();
        written.push_back(path);
    }
    return written;
}

}  // namespace cli
