#!/usr/bin/env python3
"""The build-time string-table check: it passes the shipped tables and refuses
each kind of damage that the installer's forgiving parser would hide.

Usage: check_i18n_test.py <resources folder>
"""
import os
import sys
import unittest

RESOURCES = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../resources")
sys.path.insert(0, os.path.join(RESOURCES, "tools"))
import check_i18n  # noqa: E402


def shipped():
    texts = {}
    for name in check_i18n.TABLES:
        with open(os.path.join(RESOURCES, "i18n", name + ".txt"), "rb") as f:
            texts[name] = f.read()
    return texts


def edited(name, old, new, count=1):
    texts = shipped()
    old_b, new_b = old.encode("utf-8"), new.encode("utf-8")
    assert old_b in texts[name], "fixture line not found: %r" % old
    texts[name] = texts[name].replace(old_b, new_b, count)
    return texts


class ShippedTables(unittest.TestCase):
    def test_pass(self):
        self.assertEqual(check_i18n.check(shipped()), [])

    def test_hash_matches_the_installer(self):
        # Reference values computed independently, one of them past the 32-bit wrap.
        self.assertEqual(check_i18n.key_hash(""), 0)
        self.assertEqual(check_i18n.key_hash("OK"), 2524)
        self.assertEqual(check_i18n.key_hash("DOWNLOADING"), 941831738)
        self.assertEqual(check_i18n.key_hash("INSTALLER_RUNNING_ALREADY"), -2022948159)


class DamagedTables(unittest.TestCase):
    def assertRefused(self, texts, fragment):
        errors = check_i18n.check(texts)
        self.assertTrue(any(fragment in e for e in errors), "no error with %r in %r" % (fragment, errors))

    def test_missing_installer_key(self):
        self.assertRefused(edited("ru", "NEXT=Далее >\n", ""), "order or grouping")
        self.assertRefused(edited("en", "NEXT=Next >\n", ""), "NEXT must read")

    def test_changed_english_text(self):
        self.assertRefused(edited("en", "OK=Finish", "OK=Done"), "OK must read")

    def test_untranslated_text(self):
        self.assertRefused(edited("uk", "CLOSE=Закрити", "CLOSE=Close"), "CLOSE is not translated")

    def test_placeholder_lost_in_translation(self):
        self.assertRefused(edited("ru", "DOWNLOADING=Загрузка %s %%s", "DOWNLOADING=Загрузка %s %s"), "placeholders")
        self.assertRefused(edited("uk", "CHECK_JAVA=Встановлення Java %s", "CHECK_JAVA=Встановлення Java"),
                           "placeholders")

    def test_lone_percent(self):
        self.assertRefused(edited("en", "PARTNER_SKIP=Skip", "PARTNER_SKIP=Skip 100%"), "lone %")

    def test_repeated_key_order(self):
        # The second DOWNLOADING ("Downloading") must not come first.
        texts = edited("en", "DOWNLOADING=Downloading %s %%s", "DOWNLOADING=Downloading")
        self.assertRefused(texts, "DOWNLOADING must read")

    def test_unexpected_duplicate(self):
        self.assertRefused(edited("en", "YES=Yes\n", "YES=Yes\nYES=Yes\n"), "defined twice")

    def test_stray_line_without_equals(self):
        self.assertRefused(edited("en", "YES=Yes\n", "YES=Yes\nstray text\n"), "neither an entry nor a comment")

    def test_trailing_blank_and_carriage_return(self):
        self.assertRefused(edited("en", "YES=Yes\n", "YES=Yes \n"), "trailing white space")
        self.assertRefused(edited("ru", "YES=Да\n", "YES=Да\r\n"), "carriage return")

    def test_empty_text(self):
        self.assertRefused(edited("en", "YES=Yes\n", "YES=\n"), "has no text")

    def test_missing_byte_order_mark(self):
        texts = shipped()
        texts["uk"] = texts["uk"][3:]
        self.assertRefused(texts, "byte-order mark")

    def test_java_hint_in_ukrainian(self):
        texts = edited("uk", "INSTALLER_RUNNING_ALREADY=",
                       "JAVA_NOT_FOUND_INSTALL=Java (32 біт) не знайдено\nINSTALLER_RUNNING_ALREADY=")
        self.assertRefused(texts, "JAVA_NOT_FOUND_INSTALL must not be present")

    def test_hash_collision(self):
        # "AO" and "B0" hash alike (65 * 31 + 79 == 66 * 31 + 48).
        texts = shipped()
        for name, a, b in (("ru", "Да", "Нет"), ("en", "Yes", "No"), ("uk", "Так", "Ні")):
            texts[name] = texts[name].replace(("YES=%s\nNO=%s\n" % (a, b)).encode(),
                                              ("XAO=%s\nXB0=%s\n" % (a, b)).encode())
        self.assertRefused(texts, "share the hash")


if __name__ == "__main__":
    unittest.main()
