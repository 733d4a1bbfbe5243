#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_entry_points into tests/fuzz/corpus/fuzz_entry_points: for each
host version and function a call with small plausible ranges, and a few calls with texts, odd
numbers, omitted arguments and the function wizard open. The byte layout is the one described at
the top of fuzz_entry_points.cpp."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
folder = os.path.join(here, 'corpus', 'fuzz_entry_points')

VERSIONS = {16: 0, 12: 1, 11: 2}
# In registration order (ascending names), with the codes of their arguments.
FUNCTIONS = [
    ('adjustedPowerStat', 'RRB'),
    ('aurocDifferenceAggregate', 'RRRB'),
    ('aurocDifferenceIndividual', 'RRRB'),
    ('aurocInitialComparison', 'RRBR'),
    ('binomialTest', 'RRR'),
    ('calibrationDifferenceAggregate', 'RRR'),
    ('calibrationDifferenceIndividual', 'RRR'),
    ('calibrationTestAggregate', 'RRR'),
    ('calibrationTestIndividual', 'RR'),
    ('crossTabCategorical', 'RR'),
    ('crossTabNumerical', 'RRRRR'),
    ('generateBootstrapSample', 'RR'),
    ('getInfo', ''),
    ('getVersion', ''),
    ('herfindahlIndex', 'R'),
    ('jeffreysTest', 'RRR'),
    ('ksStatistic', 'RRB'),
    ('logisticRegression', 'RRRR'),
    ('lowDefaultPortfolioPD', 'RRRRR'),
    ('mapCategoricals2Scores', 'RRR'),
    ('mapNumericals2Scores', 'RRRR'),
    ('migrationMatrix', 'RR'),
    ('populationStabilityIndex', 'RR'),
    ('rocCurveAggregate', 'RRRBB'),
    ('rocCurveIndividual', 'RRBBB'),
]


def small(k):
    """A number element 0..3."""
    return bytes([255, k])


def fraction(v):
    """A number element in [-0.5, 1.5) in steps of 0.001."""
    return bytes([255, 150]) + struct.pack('>I', round((v + 0.5) * 1000))


def any_number(v):
    """A number element of any value."""
    return bytes([255, 255]) + struct.pack('<d', v)


def flag(v):
    """A B argument."""
    return bytes([255]) + struct.pack('<d', v)


def letters(n):
    """A text element of n letters."""
    return bytes([1, 1, n - 1, 1, 0])


def column(elements, mix=0, owned=False):
    """A column array of the given elements; mix 255 lets texts and other kinds through."""
    n = len(elements)
    return bytes([0x10 if owned else 0, 4, (n - 1) >> 8, (n - 1) & 255, mix]) + b''.join(elements)


def row(elements, mix=0):
    return bytes([0, 3, len(elements) - 1, mix]) + b''.join(elements)


def block(rows, columns, elements, mix=0):
    return bytes([0, 5, rows - 1, columns - 1, mix]) + b''.join(elements)


def header(version, name, call=0):
    index = [f for f, _ in FUNCTIONS].index(name)
    return bytes([VERSIONS[version], index, call])


def write(name, data):
    with open(os.path.join(folder, name), 'wb') as out:
        out.write(data)


def main():
    os.makedirs(folder, exist_ok=True)
    scores = column([small(k % 4) for k in range(6)])
    pds = column([fraction(v) for v in (0.01, 0.02, 0.05, 0.1, 0.2, 0.3)])
    indicators = column([small(k) for k in (0, 1, 0, 0, 1, 1)])
    counts = column([small(k) for k in (3, 2, 1, 1, 2, 3)])
    matrix = block(3, 3, [small(k % 4) for k in range(9)])
    defaults = column([small(k) for k in (0, 1, 0, 1, 2, 0)])
    grades = column([small(k) for k in (1, 2, 3, 1, 2, 3)])
    missing = bytes([14])
    special = {
        'adjustedPowerStat': [scores, pds],
        'aurocDifferenceIndividual': [scores, column([small(k) for k in (1, 3, 2, 0, 3, 1)]), indicators],
        'calibrationDifferenceIndividual': [pds, column([fraction(v) for v in (0.03, 0.01, 0.1, 0.1, 0.3, 0.2)]),
                                            indicators],
        'calibrationTestAggregate': [pds, counts, counts],
        'calibrationTestIndividual': [pds, indicators],
        'crossTabNumerical': [scores, indicators, column([small(2)]), missing, missing],
        'lowDefaultPortfolioPD': [counts, counts, column([fraction(0.1)]), column([fraction(0.99)]), column([small(0)])],
        'mapNumericals2Scores': [pds, column([small(1), small(2)]), column([fraction(0), fraction(0.1)]),
                                 column([fraction(0.1), fraction(1)])],
        'rocCurveAggregate': [scores, counts, counts],
        'rocCurveIndividual': [scores, indicators],
        'aurocDifferenceAggregate': [column([small(k) for k in (1, 2, 3)]), matrix, matrix],
        'calibrationDifferenceAggregate': [column([fraction(v) for v in (0.05, 0.1, 0.2)]), matrix, matrix],
        'crossTabCategorical': [column([letters(1 + k % 3) for k in range(6)], 255), indicators],
        'logisticRegression': [column([letters(3), letters(5)], 255), column([small(1), small(1)]),
                               block(2, 6, [fraction(v / 10) for v in range(12)]), row([small(k) for k in (0, 1, 0, 0, 1, 1)])],
        'mapCategoricals2Scores': [column([letters(1 + k % 2) for k in range(6)], 255),
                                   column([letters(1), letters(2)], 255), column([small(1), small(2)])],
        'generateBootstrapSample': [block(4, 2, [small(k % 4) for k in range(8)]), column([bytes([3, 0])], 255)],
        'aurocInitialComparison': [scores, indicators, None, column([fraction(0.8)])],
        'binomialTest': [pds, defaults, counts],
        'jeffreysTest': [pds, defaults, counts],
        'ksStatistic': [scores, indicators],
        'migrationMatrix': [grades, column([small(k) for k in (1, 1, 3, 2, 2, 3)])],
    }
    for version in VERSIONS:
        for name, codes in FUNCTIONS:
            arguments = special.get(name)
            if arguments is None:
                ranges = [scores, pds, indicators, counts, counts]
                arguments = [ranges[i] for i in range(codes.count('R'))]
            data = header(version, name)
            for i, code in enumerate(codes):
                data += arguments[i] if code == 'R' else flag([0.0, 1.0, 10.0][codes[:i].count('B')])
            write(f'seed-{version}-{name}', data)

    # Texts of every length up to the limit, odd numbers in ranges, host-owned records.
    texts = column([letters(1), bytes([1, 2, 2, 7]), bytes([1, 5, 0x7F, 0xFF, 3, 9]), bytes([1, 0, 1, 0]),
                    bytes([9, 6, 20, 1, 0])], 255, owned=True)
    odd = column([any_number(v) for v in (float('nan'), float('inf'), -0.0, 1e308, -1e308, 5e-324)]
                 + [bytes([5, 200, 0x7F, 0xFF, 0xFF, 0xFF]), bytes([3, 200, 0, 0, 0, 2]), bytes([4, 4]), bytes([6]),
                    bytes([0])], 255)
    for version in VERSIONS:
        for name in ('crossTabCategorical', 'generateBootstrapSample', 'mapCategoricals2Scores', 'rocCurveIndividual'):
            write(f'texts-{version}-{name}', header(version, name) + texts + odd + texts + flag(1) + flag(1) + flag(5))
    # Odd doubles for the B arguments.
    for i, v in enumerate((float('nan'), float('inf'), -0.0, 1e308, -1e308, 5e-324, 2.0 ** 31, -2.0 ** 31 - 1, 1.9, -0.5)):
        write(f'flag-{i}', header([16, 12, 11][i % 3], 'rocCurveIndividual') + scores + indicators
              + flag(1) + flag(v) + flag(v))
    # Omitted trailing arguments, the function wizard, missing and nil records.
    write('omitted', header(12, 'lowDefaultPortfolioPD', 0xD0) + counts + counts + column([fraction(0.1)]))
    write('wizard', header(16, 'calibrationTestIndividual', 0x0F) + pds + indicators)
    write('blanks', header(11, 'crossTabNumerical') + scores + indicators + bytes([14, 15, 13]))


if __name__ == '__main__':
    main()
