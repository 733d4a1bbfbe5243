#!/usr/bin/env python3
"""Writes the example validation workbook: portfolio.csv (one row per debtor) and validation.csv
(grade-level aggregates and formula cells over the portfolio), and both as the sheets of
validation.xlsx (with python3-xlsxwriter), the formulas stored as a spreadsheet program stores
calls of add-in functions and the PDs formatted as percentages. Same seed, same files."""
import csv
import math
import os
import random

DEBTORS = 3000
GRADES = 7
SECTORS = [("Retail", 0.9), ("Manufacturing", 1.0), ("Services", 0.8), ("Construction", 1.6), ("Energy", 1.2)]
# Master scale: upper PD bound of each grade; the grade's PD is the geometric mid of its bounds.
BOUNDS = [0.0025, 0.005, 0.01, 0.02, 0.04, 0.08, 1.0]
GRADE_PDS = [0.0015, 0.0035, 0.007, 0.014, 0.028, 0.056, 0.12]
# Debtors per grade at the initial validation: the reference population of the stability index.
INITIAL_DEBTORS = [150, 260, 430, 640, 700, 500, 320]


def logistic(x):
    return 1.0 / (1.0 + math.exp(-x))


def grade_of(pd):
    return next(g for g, bound in enumerate(BOUNDS) if pd <= bound)


def main():
    rng = random.Random(20261206)
    here = os.path.dirname(os.path.abspath(__file__))
    rows = []
    for i in range(DEBTORS):
        quality = rng.gauss(0.0, 1.0)
        sector, multiplier = SECTORS[rng.randrange(len(SECTORS))]
        score1 = round(500 + 100 * (quality + 0.45 * rng.gauss(0.0, 1.0)))
        score2 = round(500 + 100 * (quality + 0.75 * rng.gauss(0.0, 1.0)))
        pd1 = logistic(-3.9 - 1.05 * (score1 - 500) / 100)
        pd2 = logistic(-3.8 - 0.95 * (score2 - 500) / 100)
        true_pd = min(0.95, multiplier * logistic(-4.0 - 1.3 * quality))
        default = 1 if rng.random() < true_pd else 0
        age = rng.randint(21, 70)
        income = round(max(8000.0, 42000 * math.exp(0.35 * quality + 0.3 * rng.gauss(0.0, 1.0))), -2)
        leverage = round(max(0.0, 0.45 - 0.12 * quality + 0.1 * rng.gauss(0.0, 1.0)), 3)
        rows.append({
            "id": f"D{i + 1:05d}", "score": score1, "challengerScore": score2,
            "pd": round(pd1, 6), "challengerPd": round(pd2, 6),
            "grade": grade_of(pd1) + 1, "challengerGrade": grade_of(pd2) + 1,
            "default": default, "sector": sector, "age": age, "income": int(income), "leverage": leverage,
        })
    with open(os.path.join(here, "portfolio.csv"), "w", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=list(rows[0].keys()), lineterminator="\n")
        writer.writeheader()
        writer.writerows(rows)

    defaults = [[0] * GRADES for _ in range(GRADES)]
    survivals = [[0] * GRADES for _ in range(GRADES)]
    for row in rows:
        table = defaults if row["default"] else survivals
        table[row["challengerGrade"] - 1][row["grade"] - 1] += 1
    by_grade_defaults = [sum(defaults[u][v] for u in range(GRADES)) for v in range(GRADES)]
    by_grade_survivals = [sum(survivals[u][v] for u in range(GRADES)) for v in range(GRADES)]

    n = DEBTORS + 1  # last portfolio row
    p = lambda column: f"portfolio!{column}2:{column}{n}"
    sheet = {}

    def put(row, column, value):  # row and column count from 0
        sheet[(row, column)] = value

    put(0, 0, "Tavirune validation workbook: rating model validation of a portfolio of %d debtors" % DEBTORS)
    put(3, 0, "Grade")
    for c, title in enumerate(["Score", "PD", "Defaults", "Survivals", "Debtors", "Initial Debtors"], start=1):
        put(3, c, title)
    for g in range(GRADES):
        put(4 + g, 0, g + 1)
        put(4 + g, 1, g + 1)
        put(4 + g, 2, GRADE_PDS[g])
        put(4 + g, 3, by_grade_defaults[g])
        put(4 + g, 4, by_grade_survivals[g])
        put(4 + g, 5, by_grade_defaults[g] + by_grade_survivals[g])
        put(4 + g, 6, INITIAL_DEBTORS[g])
    for top, title, matrix in [(12, "Defaults", defaults), (22, "Survivals", survivals)]:
        put(top, 0, title + " by challenger grade (rows) and grade (columns)")
        for g in range(GRADES):
            put(top + 1, 1 + g, g + 1)
            put(top + 2 + g, 0, g + 1)
            for v in range(GRADES):
                put(top + 2 + g, 1 + v, matrix[g][v])
    put(32, 0, "Low-default portfolio grade")
    put(32, 1, "Defaults")
    put(32, 2, "Survivals")
    for k, (d, s) in enumerate([(0, 180), (0, 240), (1, 160), (2, 75)]):
        put(33 + k, 0, "LD%d" % (k + 1))
        put(33 + k, 1, d)
        put(33 + k, 2, s)
    put(38, 0, "Sector")
    put(38, 1, "Sector score")
    for k, (name, score) in enumerate([("Retail", 32), ("Manufacturing", 28), ("Services", 35), ("Construction", 12), ("Energy", 20)]):
        put(39 + k, 0, name)
        put(39 + k, 1, score)
    put(45, 0, "Income from")
    put(45, 1, "Income below")
    put(45, 2, "Income score")
    for k, (low, high, score) in enumerate([(0, 25000, 5), (25000, 35000, 15), (35000, 45000, 25), (45000, 60000, 35), (60000, 1e9, 45)]):
        put(46 + k, 0, low)
        put(46 + k, 1, high)
        put(46 + k, 2, score)
    put(52, 0, "Risk drivers")
    for c, name in enumerate(["age", "income", "leverage"], start=1):
        put(52, c, name)
        put(53, c, 1)
    put(53, 0, "Included")

    # Each block: a title row, then the formula; the next block starts after its result.
    blocks = [
        ("ROC curve and AUROC of the rating on individual data (10 buckets)",
         f"=rocCurveIndividual({p('B')},{p('H')},0,1,10)", 14),
        ("ROC curve and AUROC on the grade aggregates",
         "=Korvanth.Tavirune.rocCurveAggregate(B5:B11,D5:D11,E5:E11,1,1)", 11),
        ("AUROC of rating and challenger rating compared, individual data",
         f"=aurocDifferenceIndividual({p('B')},{p('C')},{p('H')},0)", 5),
        ("AUROC of rating and challenger rating compared, grade cross tables",
         "=aurocDifferenceAggregate(B5:B11,B15:H21,B25:H31,1)", 5),
        ("Adjusted PowerStat of the score against the challenger's PDs as shadow PDs",
         f"=adjustedPowerStat({p('B')},{p('E')},0)", 3),
        ("Calibration of the debtor PDs (Spiegelhalter)",
         f"=calibrationTestIndividual({p('D')},{p('H')})", 2),
        ("Calibration of the grade PDs (Spiegelhalter and Hosmer-Lemeshow)",
         "=calibrationTestAggregate(C5:C11,D5:D11,E5:E11)", 2),
        ("Calibration of rating and challenger compared, individual data (Redelmeier)",
         f"=calibrationDifferenceIndividual({p('D')},{p('E')},{p('H')})", 5),
        ("Calibration of rating and challenger compared, grade cross tables (Redelmeier)",
         "=calibrationDifferenceAggregate(C5:C11,B15:H21,B25:H31)", 5),
        ("Pluto-Tasche PDs of the low-default grades (independent defaults, 99.9% quantile)",
         "=lowDefaultPortfolioPD(B34:B37,C34:C37)", 4),
        ("Pluto-Tasche PDs with asset correlation 0.12, 95% quantile, rescaled to 0.5% average PD",
         "=lowDefaultPortfolioPD(B34:B37,C34:C37,0.12,0.95,0.005)", 4),
        ("Calibration of the Pluto-Tasche PDs above (reads the spilled PDs)",
         "=calibrationTestAggregate(A{ld}:A{ldEnd},B34:B37,C34:C37)", 2),
        ("Cross tabulation by sector with weights of evidence",
         f"=crossTabCategorical({p('I')},{p('H')})", 6),
        ("Cross tabulation of the score in 5 automatic classes",
         f"=crossTabNumerical({p('B')},{p('H')},5,,)", 6),
        ("Sector scores of the first ten debtors",
         "=mapCategoricals2Scores(portfolio!I2:I11,A40:A44,B40:B44)", 10),
        ("Income scores of the first ten debtors",
         "=mapNumericals2Scores(portfolio!K2:K11,C47:C51,A47:A51,B47:B51)", 10),
        ("Logistic regression of the default flag on age, income and leverage",
         f"=logisticRegression(B53:D53,B54:D54,portfolio!J2:L{n},{p('H')})", 6),
        ("A bootstrap sample of the grade table",
         "=generateBootstrapSample(A4:F11,TRUE)", 8),
        ("Jeffreys test of the grade PDs against the defaults observed",
         "=jeffreysTest(C5:C11,D5:D11,F5:F11)", 9),
        ("Binomial test of the grade PDs against the defaults observed",
         "=binomialTest(C5:C11,D5:D11,F5:F11)", 9),
        ("AUROC of the rating against an AUROC of 0.85 at the initial validation (DeLong)",
         f"=aurocInitialComparison({p('B')},{p('H')},0,0.85)", 5),
        ("Kolmogorov-Smirnov statistic of the score",
         f"=ksStatistic({p('B')},{p('H')},0)", 2),
        ("Concentration of the debtors over the grades",
         "=herfindahlIndex(F5:F11)", 2),
        ("Stability of the grade distribution against the initial validation's",
         "=populationStabilityIndex(G5:G11,F5:F11)", 9),
        ("Migrations from the challenger's grades (rows) to the rating's grades (columns)",
         f"=migrationMatrix({p('G')},{p('F')})", 12),
        ("Add-in version", "=Korvanth.Tavirune.getVersion()", 1),
        ("Add-in information", "=getInfo()", 1),
    ]
    row = 56
    ld_row = None
    for title, formula, size in blocks:
        put(row, 0, title)
        if "A{ld}" in formula:
            formula = formula.format(ld=ld_row + 1, ldEnd=ld_row + 4)
        if formula.startswith("=lowDefaultPortfolioPD(B34:B37,C34:C37)"):
            ld_row = row + 1
        put(row + 1, 0, formula)
        row += size + 3
    last_row = max(r for r, _ in sheet)
    last_column = max(c for _, c in sheet)
    with open(os.path.join(here, "validation.csv"), "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        for r in range(last_row + 1):
            writer.writerow([sheet.get((r, c), "") for c in range(last_column + 1)])
    write_workbook(os.path.join(here, "validation.xlsx"), sheet, rows)


def write_workbook(path, sheet, rows):
    try:
        import xlsxwriter
    except ImportError:
        print("validation.xlsx not written: python3-xlsxwriter is missing")
        return
    import datetime
    book = xlsxwriter.Workbook(path)
    book.set_properties({"created": datetime.datetime(2026, 12, 6)})
    percent = book.add_format({"num_format": "0.00%"})
    validation, portfolio = book.add_worksheet("validation"), book.add_worksheet("portfolio")
    for (r, c), value in sorted(sheet.items()):
        if isinstance(value, str) and value.startswith("="):
            name = value[1:]
            if not name.startswith("Korvanth.Tavirune."):
                name = "Korvanth.Tavirune." + name
            validation.write_formula(r, c, "=_xll." + name)
        else:
            validation.write(r, c, value, percent if c == 2 and 4 <= r <= 10 else None)
    for c, key in enumerate(rows[0]):
        portfolio.write(0, c, key)
        for r, row in enumerate(rows, start=1):
            portfolio.write(r, c, row[key], percent if key in ("pd", "challengerPd") else None)
    book.close()


if __name__ == "__main__":
    main()
