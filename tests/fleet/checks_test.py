"""The fleet run's checks judge loss: a check that passes what it should
fail hides a fault of the agent. Each case is one way to get it wrong."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "fleet"))
import checks  # noqa: E402


def note(status, subnode, starts, received, name="FleetBurst"):
    return {"status": status, "labels": {"alertname": name, "subnode": subnode},
            "startsAt": starts, "received": received}


class RecordsTest(unittest.TestCase):
    def test_missing_and_duplicates_are_counted_apart_per_host(self):
        written = {"h01": {("s1", "a"), ("s1", "b"), ("s1", "c")}, "h02": {("s2", "a")}}
        # h01: b twice, c lost; h02's record carries h01's correlator but its
        # own server, so neither host takes the other's row; one stray row.
        stored = [("s1", "a"), ("s1", "b"), ("s1", "b"), ("s2", "a"), ("s9", "z")]
        hosts, unknown = checks.records(written, stored)
        self.assertEqual(hosts["h01"], {"written": 3, "in_warehouse": 2, "missing": 1,
                                        "duplicates": 1})
        self.assertEqual(hosts["h02"], {"written": 1, "in_warehouse": 1, "missing": 0,
                                        "duplicates": 0})
        self.assertEqual(unknown, 1)


class AlertsTest(unittest.TestCase):
    RAISED = [("h01", "h01:ZP", 1000.0)]

    def check(self, notes):
        return checks.alerts(self.RAISED, notes, "FleetBurst")

    def test_firing_then_resolved_once_passes(self):
        hosts, problems = self.check([
            note("firing", "h01:ZP", "1970-01-01T00:16:40.123456789Z", 1001),
            note("resolved", "h01:ZP", "1970-01-01T00:16:40Z", 1070),
            note("firing", "other", "1970-01-01T00:16:40Z", 1001, name="ZepAgentDown")])
        self.assertEqual(problems, [])
        self.assertEqual(hosts["h01"], {"alerts_firing": 1, "alerts_resolved": 1})

    def test_twice_lost_out_of_order_and_unraised_are_problems(self):
        starts = "1970-01-01T00:16:40Z"
        cases = {"twice": [note("firing", "h01:ZP", starts, 1001),
                           note("firing", "h01:ZP", starts, 1060),
                           note("resolved", "h01:ZP", starts, 1070)],
                 "lost": [note("firing", "h01:ZP", starts, 1001)],
                 "order": [note("resolved", "h01:ZP", starts, 1001),
                           note("firing", "h01:ZP", starts, 1070)],
                 "another raise": [note("firing", "h01:ZP", starts, 1001),
                                   note("resolved", "h01:ZP", starts, 1070),
                                   note("firing", "h01:ZP", "1970-01-01T01:00:00Z", 3601)]}
        for name, notes in cases.items():
            self.assertEqual(len(self.check(notes)[1]), 1, name)

    def test_a_rejoining_member_may_repeat_but_must_end_resolved(self):
        starts = "1970-01-01T00:16:40Z"
        repeated = [note("firing", "h01:ZP", starts, 1001),
                    note("resolved", "h01:ZP", starts, 1070),
                    note("firing", "h01:ZP", starts, 1071),    # the member back, its log lost
                    note("resolved", "h01:ZP", starts, 1073)]
        rejoin = [(1065.0, 1080.0)]
        self.assertEqual(checks.alerts(self.RAISED, repeated, "FleetBurst", rejoins=rejoin)[1], [])
        self.assertEqual(len(self.check(repeated)[1]), 1)          # outside a rejoin: twice
        stale = repeated[:3]                                       # ends firing
        self.assertEqual(len(checks.alerts(self.RAISED, stale, "FleetBurst",
                                           rejoins=rejoin)[1]), 1)


class SeriesTest(unittest.TestCase):
    def test_down_only_inside_the_timelines_windows(self):
        samples = [(10, 1), (15, 0), (20, 0), (25, 1), (30, 0)]
        self.assertEqual(checks.down_outside(samples, [(14, 21)]), [30])

    def test_steady_compares_the_level_after_start_up_with_the_last_third(self):
        # Start-up (the first sixth) does not count; a 10 % rise does.
        flat = [(t, 900 if t < 10 else 1000) for t in range(0, 61)]
        self.assertEqual(checks.steady(flat, 0, 60, 0.05), (1000, 1000, True))
        rising = [(t, 1000 + (100 if t >= 40 else 0)) for t in range(0, 61)]
        self.assertFalse(checks.steady(rising, 0, 60, 0.05)[2])
        # A count of descriptors may move by one.
        fds = [(t, 12 + (1 if t >= 40 else 0)) for t in range(0, 61)]
        self.assertTrue(checks.steady(fds, 0, 60, 0.05, least=1)[2])
        self.assertIsNone(checks.steady([], 0, 60, 0.05)[2])

    def test_heal_is_the_last_delayed_arrival_after_the_end(self):
        arrivals = [(5, 6), (12, 40), (18, 31), (25, 80)]   # (own time, arrival)
        self.assertEqual(checks.heal(arrivals, 10, 20), 20.0)
        self.assertEqual(checks.heal(arrivals, 30, 40), 0.0)

    def test_write_gap_spans_the_fault_until_writes_resume_after_the_promotion(self):
        times = [1, 2, 3, 9, 20, 21, 30]
        # Fault at 4, promoted at 18: silent from 3 to 9, then 9 to 20 (the
        # longest), the first row 2 s after the promotion.
        self.assertEqual(checks.write_gap(times, 4, 18), (11, 2))
        self.assertEqual(checks.write_gap(times, 4, 31), (None, None))


if __name__ == "__main__":
    unittest.main()
