package org.ruze.vurudad2.core3.util;

/** Build constants of the stand-in product; running the class reports the version as its exit code. */
public final class Constants {
    public static final int VERSION = 1100;

    private Constants() {
    }

    public static void main(String[] args) {
        System.exit(VERSION);
    }
}
