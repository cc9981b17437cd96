package ru.dravimol.core;

/**
 * Tells the installer whether a Java runtime is a 32-bit one: the process
 * exits with 32 on a 32-bit runtime and with 64 on any other.
 *
 * The installer only reads the exit code, so nothing is printed. It must run
 * on every runtime it may be asked about, hence the Java 8 class format and
 * no use of newer library calls.
 */
public final class JavaArch {
    static final int EXIT_32_BIT = 32;
    static final int EXIT_OTHER = 64;

    private JavaArch() {
    }

    public static void main(String[] args) {
        System.exit(dataModel());
    }

    static int dataModel() {
        // Set by the HotSpot family of runtimes; other runtimes may lack it.
        String model = System.getProperty("sun.arch.data.model");
        if ("32".equals(model)) {
            return EXIT_32_BIT;
        }
        if ("64".equals(model)) {
            return EXIT_OTHER;
        }
        return is32BitArch(System.getProperty("os.arch")) ? EXIT_32_BIT : EXIT_OTHER;
    }

    // Names a 32-bit runtime reports for its processor. Anything unknown counts
    // as "not 32-bit": the installer then keeps looking for a suitable runtime
    // instead of settling on one it cannot be sure of.
    static boolean is32BitArch(String arch) {
        if (arch == null) {
            return false;
        }
        String a = arch.trim().toLowerCase(java.util.Locale.ROOT);
        return a.equals("x86") || a.equals("i386") || a.equals("i486") || a.equals("i586")
                || a.equals("i686") || a.equals("arm") || a.equals("armv7l");
    }
}
