"""The example workbook through tavirune as .xlsx, held against its CSV output by readers of their
own: openpyxl (values, formulas, charts) and the SVG plots as XML; or LibreOffice (its reading of
the written workbook, and a workbook it wrote from validation.csv read back by tavirune).
Usage: check_example.py TAVIRUNE EXAMPLES SCRATCH openpyxl|libreoffice; 77 = skipped."""
import csv, io, os, re, shutil, subprocess, sys, xml.etree.ElementTree as ET

tavirune, examples, scratch, reader = sys.argv[1:5]
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
failures = []


def run(*args, cwd=examples):
    return subprocess.run(args, cwd=cwd, check=True, capture_output=True, text=True).stdout


def grid(text):
    return list(csv.reader(io.StringIO(text)))


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def same(expected, got, tolerance=1e-12):  # a CSV cell against a value read from a workbook
    if expected == "":
        return got in (None, "")
    if number(expected) is not None:
        return isinstance(got, (int, float)) and abs(got - number(expected)) <= tolerance * max(1.0, abs(number(expected)))
    else:
        return str(got).upper() == expected.upper() if expected in ("TRUE", "FALSE") else str(got) == expected


def check(where, ok):
    if not ok:
        failures.append(where)


computed = grid(run(tavirune, "calc", "validation.csv", "--sheet", "portfolio.csv"))
inputs = grid(open(os.path.join(examples, "validation.csv")).read())
out = os.path.join(scratch, "out.xlsx")
run(tavirune, "calc", "validation.csv", "--sheet", "portfolio.csv", "-o", out, "--plots", os.path.join(scratch, "plots"))

if reader == "openpyxl":
    import openpyxl
    formulas, values = openpyxl.load_workbook(out), openpyxl.load_workbook(out, data_only=True)
    check("sheets", formulas.sheetnames == ["validation", "portfolio"])
    name = lambda f: re.sub(r"^=(_xll\.)?(korvanth\.tavirune\.)?", "", f.lower().replace(" ", ""))
    for sheet, expected in [("validation", computed), ("portfolio", grid(open(os.path.join(examples, "portfolio.csv")).read()))]:
        f, v = formulas[sheet], values[sheet]
        for r, row in enumerate(expected, 1):
            for c, cell in enumerate(row, 1):
                given = inputs[r - 1][c - 1] if sheet == "validation" else ""
                if given.startswith("="):
                    check(f"{sheet} R{r}C{c} formula", name(str(f.cell(r, c).value)) == name(given))
                    # An array formula's first cell caches a number only (libxlsxwriter).
                    if f.formula_attributes.get(f.cell(r, c).coordinate, {}).get("t") == "array" and number(cell) is None:
                        continue
                check(f"{sheet} R{r}C{c} value {cell!r} != {v.cell(r, c).value!r}", same(cell, v.cell(r, c).value))
    charts = {ws.title: ws._charts for ws in formulas}
    check("chart count", [len(charts["validation"]), len(charts["portfolio"])] == [2, 0])
    for chart, anchor in zip(charts["validation"], (58, 75)):
        series = chart.series[0]
        check(f"chart at {anchor} points", series.xVal.numRef.f == f"validation!$A${anchor + 3}:$A${anchor + 3 + (9 if anchor == 58 else 7)}")
        auroc = float(computed[anchor - 1][1])
        check(f"chart at {anchor} name", f"AUROC {auroc:.4f}" in series.tx.v)
        check(f"chart at {anchor} axes", (chart.x_axis.scaling.min, chart.x_axis.scaling.max, chart.y_axis.scaling.max) == (0, 1, 1))
    # Each SVG's curve: its longest thick line, scaled by its own ends, gives the result's points.
    for anchor in (58, 75):
        tree = ET.parse(os.path.join(scratch, "plots", f"roc_validation_A{anchor}.svg"))
        paths = [re.findall(r"[ML] ([-\d.e]+) ([-\d.e]+)", p.get("d", "")) for p in tree.iter("{http://www.w3.org/2000/svg}path")
                 if "stroke-width:2;" in p.get("style", "")]
        curve = [(float(x), float(y)) for x, y in max(paths, key=len)]
        (x0, y0), (x1, y1) = curve[0], curve[-1]
        points = []
        for row in computed[anchor + 2:]:
            if not row[0] or not row[1]:
                break
            points.append((float(row[0]), float(row[1])))
        scale = (points[-1][0] - points[0][0]) / (x1 - x0), (points[-1][1] - points[0][1]) / (y1 - y0)
        drawn = [((x - x0) * scale[0], (y - y0) * scale[1]) for x, y in curve]
        check(f"svg A{anchor}", len(drawn) == len(points) and all(abs(a - b) < 1e-3 and abs(c - d) < 1e-3 for (a, c), (b, d) in zip(drawn, points)))
else:
    if not shutil.which("soffice"):
        sys.exit(77)
    # A profile of its own beside the scratch folder (kept: making one takes seconds), so that no
    # other LibreOffice running holds it.
    soffice = ["soffice", f"-env:UserInstallation=file://{os.path.abspath(scratch)}-profile", "--headless"]
    # LibreOffice's reading of the written workbook: it recomputes array formulas (#NAME?, not
    # knowing the add-in); every other cell shows what tavirune computed.
    run(*soffice, "--convert-to", "csv", "--outdir", scratch, out, cwd=scratch)
    shown = grid(open(os.path.join(scratch, "out.csv")).read())
    for r, row in enumerate(computed):
        for c, cell in enumerate(row):
            got = shown[r][c] if r < len(shown) and c < len(shown[r]) else ""
            if got != "#NAME?":
                check(f"LibreOffice R{r + 1}C{c + 1} {cell!r} != {got!r}", same(cell, number(got) if number(got) is not None else got, 1e-9))
    # A workbook LibreOffice wrote from the CSV computes alike; LibreOffice stores the TRUE of the
    # bootstrap's formula as 1, which the function refuses, so that block is left out.
    shutil.copy(os.path.join(examples, "validation.csv"), scratch)
    run(*soffice, "--convert-to", "xlsx", "validation.csv", cwd=scratch)
    again = grid(run(tavirune, "calc", os.path.join(scratch, "validation.xlsx"), "--sheet", "portfolio.csv"))
    bootstrap = next(r for r, row in enumerate(inputs) if row[0].startswith("=generateBootstrapSample"))
    for r, row in enumerate(computed):
        if not bootstrap <= r < bootstrap + 8:
            check(f"read back R{r + 1}", again[r] == row)

print("\n".join(failures[:20]) or "all cells alike")
sys.exit(1 if failures else 0)
