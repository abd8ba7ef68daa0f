#include "cli/Help.h"

namespace cli {

namespace {

const CommandHelp commandHelp[] = {
    {"ports", "ports",
     "Lists the ports the window would offer, one a line: the name, a tab, the kind (USB or\n"
     "serial) and, for USB ports, a tab and the port's description. A port that cannot be\n"
     "opened for lack of permission is named on standard error with the reason.",
     "ziro-bldc-cli ports"},
    {"get", "get PARAMETER [PARAMETER...]",
     "Reads axis parameters of motor/bank 0 and prints PARAMETER<TAB>value for each, the\n"
     "parameter as given. A parameter is a number 0 to 255 or a name of the catalogue: a\n"
     "settings key (MaxCurrent), group/key (velocity_PID_values/P_set_1) or a live value\n"
     "(ActualVelocity, StatusFlags, ...).",
     "ziro-bldc-cli --port ttyUSB0 get MaxCurrent 4 motion_settings/Acceleration"},
    {"set", "set PARAMETER VALUE",
     "Writes one axis parameter of motor/bank 0 and prints PARAMETER<TAB>value with the\n"
     "value the module answered. A refused write (status other than 100) is reported with\n"
     "the module's status and the value it keeps, and exits 1.",
     "ziro-bldc-cli --port ttyUSB0 set motion_settings/Acceleration 2000"},
    {"stop", "stop",
     "Stops the motor: writes target velocity 0 (parameter 2) to motor/bank 0, as the\n"
     "window's \"Stop motor\" (Esc) does, which brings the motor to rest under its ramp in\n"
     "every mode. Prints TargetVelocity<TAB>value with the value the module answered.",
     "ziro-bldc-cli --port ttyUSB0 stop"},
    {"raw", "raw COMMAND TYPE BANK VALUE",
     "Sends one request with the given command, type and motor/bank numbers (0 to 255)\n"
     "and 32-bit value, and prints the reply's fields: reply address, module address,\n"
     "status, command and value. Exits 1 when the status is not 100.",
     "ziro-bldc-cli --port ttyUSB0 raw 6 4 0 0"},
    {"export-ini", "export-ini [--force] FILE",
     "Reads the 44 parameters of the module's configuration and saves them to the settings\n"
     "file FILE, as the window's \"Export settings to *.ini\" does. The file is written only\n"
     "when every parameter was read (a parameter the module refuses is named, and nothing\n"
     "is written), and replaced only when completely written. An existing FILE must be a\n"
     "settings file: its lines and comments are kept, only the 44 values change; anything\n"
     "else is left alone unless --force replaces it.",
     "ziro-bldc-cli --port ttyUSB0 export-ini motor7.ini"},
    {"import-ini", "import-ini FILE",
     "Writes the parameters the settings file FILE holds to the module and reads each one\n"
     "back, as the window's \"Import settings from *.ini\" does. A key the file lacks, or\n"
     "whose text is not a number, is not written, and is named; an import that did not\n"
     "write every key, or whose value the module did not take, exits 1.",
     "ziro-bldc-cli --port ttyUSB0 import-ini motor7.ini"},
    {"export-script", "export-script [--force] FILE",
     "Reads the 44 parameters and writes them as a command script (SAP and STAP lines) to\n"
     "FILE, as the window's \"Export settings to VOKT\" does. Nothing is left behind when a\n"
     "parameter cannot be read or is refused. A settings file or an HTML page at FILE is\n"
     "left alone unless --force replaces it.",
     "ziro-bldc-cli --port ttyUSB0 export-script motor7.vkt"},
    {"store", "store",
     "Tells the module to store every axis parameter 0 to 255 in its non-volatile memory,\n"
     "as the window's \"Store actual values\" does, and prints how many it stored and\n"
     "refused (\"store: stored 45, refused 211\"). The module refuses the numbers it does\n"
     "not know or keeps no copy of; a refused setting of the configuration exits 1.",
     "ziro-bldc-cli --port ttyUSB0 store"},
    {"restore", "restore",
     "Tells the module to restore every axis parameter 0 to 255 from its non-volatile\n"
     "memory and reads each one back, as the window's \"Restore actual values\" does; it\n"
     "reports as store does.",
     "ziro-bldc-cli --port ttyUSB0 restore"},
    {"run-script", "run-script [--keep-going] FILE",
     "Runs a command script as the window exports it: SAP n, bank, value sets an axis\n"
     "parameter, STAP n, bank stores it; headers, comments and empty lines are skipped.\n"
     "The whole file is checked first: a malformed line stops it with the file, line and\n"
     "reason, and nothing is sent. Every command the module refuses or does not answer is\n"
     "reported; the run stops at the first unless --keep-going is given.",
     "ziro-bldc-cli --port ttyUSB0 run-script motor7.vkt"},
    {"watch", "watch [--interval MS] [--count N] [--csv FILE] [--force]",
     "Polls the live values the window charts (actual velocity, ramp velocity, actual and\n"
     "target position, actual PWM and current, status word) every MS milliseconds (default\n"
     "100; a cycle that takes longer is followed by the next at once). Prints a header line\n"
     "and one line per cycle, tab-separated, or with --csv writes FILE: the header row\n"
     "first, then one row per cycle with the time in ms since the start and one column\n"
     "per value, named after the catalogue; a value without answer is left empty. FILE.json\n"
     "beside it names the tool, its version, the start and the module. FILE is created\n"
     "with the first complete cycle and always ends on a whole row. Runs N cycles, or\n"
     "until Ctrl-C, which ends it cleanly with the file complete. A settings file, a\n"
     "script or an HTML page is not replaced without --force.",
     "ziro-bldc-cli --port ttyUSB0 --quiet watch --count 100 --csv run.csv"},
    {"diff", "diff FILE [FILE_B]",
     "Compares the module's 44 configuration parameters with the settings file FILE, or,\n"
     "given FILE_B, two settings files with each other (no port needed). Prints one line\n"
     "per parameter that differs: group/key<TAB>first<TAB>second (the module's value\n"
     "first); a key a file lacks reads (missing), one whose text is not a whole number\n"
     "(not a whole number: \"...\"). Exits 0 when all agree, 1 when any differs (or the\n"
     "module did not answer, or the line was not clean), 2 for a file that is not a\n"
     "settings file.",
     "ziro-bldc-cli --port ttyUSB0 --quiet diff golden.ini"},
    {"report", "report HTML_FILE [--against GOLDEN_FILE] [--force]",
     "Writes the commissioning record to HTML_FILE: one HTML page, needing nothing but\n"
     "itself and made to print on A4, with the date and time, the port and address, the\n"
     "tool's version, the 44 configuration parameters by section and the live values with\n"
     "the status flags in words. With --against, a column of the golden settings file's\n"
     "values, every difference marked and a verdict at the top (\"matches golden.ini\" or\n"
     "\"7 differences\"); exits 1 when the module differs, so that a line script can stop\n"
     "there. Nothing is written when the module cannot be read completely on a clean\n"
     "line, nor over a settings file or a command script unless --force is given.",
     "ziro-bldc-cli --port ttyUSB0 report motor7.html --against golden.ini"},
    {"step", "step velocity TARGET | step position DELTA [--duration MS] [--csv FILE] [--force]",
     "MOVES THE MOTOR. Measures one step response: writes target velocity TARGET (or\n"
     "starts a relative move by DELTA steps), polls the actual velocity (or position) as\n"
     "fast as the line allows for MS milliseconds (default 2000), then writes target\n"
     "velocity 0, also on failure or Ctrl-C. Prints rise_time_ms, overshoot_percent,\n"
     "settling_time_ms (none when it never settles), steady_state_error, samples and\n"
     "sample_rate_hz, one name<TAB>value a line; --csv writes FILE with time_ms,target,\n"
     "actual, one row per sample (a settings file, a script or a page there only with\n"
     "--force). A target beyond the max. velocity (4) is refused.",
     "ziro-bldc-cli --sim step velocity 1000 --csv s.csv"},
    // identify and tune
    {"identify", "identify [--max-velocity RPM] [--max-current MA]",
     "MOVES THE MOTOR. Measures the motor in torque mode: drives it with torque targets\n"
     "(parameter 155) back and forth between a third and nine tenths of RPM, reading the\n"
     "actual velocity and current as fast as the line allows, for about 6 s, and fits\n"
     "dv/dt = accel * (i - friction - viscous * v). Prints accel_rpm_per_s_per_mA,\n"
     "friction_mA, viscous_mA_per_rpm and duration_s, one name<TAB>value a line. Stays\n"
     "within RPM and MA (default: half the module's max. velocity (4) and max. current\n"
     "(6)), writes nothing but torque targets and ends with target velocity 0, also on\n"
     "failure or Ctrl-C. The motor must be at rest.",
     "ziro-bldc-cli --port ttyUSB0 identify --max-velocity 1000"},
    {"tune",
     "tune velocity [--bandwidth HZ] [--set 1|2] [--apply] [--max-velocity RPM] "
     "[--max-current MA]",
     "MOVES THE MOTOR. Finds velocity-loop gains for this motor and this module: identifies\n"
     "the motor (as identify does), measures how the module scales its gains with a few\n"
     "steps, and places the loop: without --bandwidth for the fastest settling (+-2 %)\n"
     "with at most 10 % overshoot, with --bandwidth at that closed-loop -3 dB bandwidth.\n"
     "Prints P, I, rise_time_ms, overshoot_percent, settling_time_ms and bandwidth_hz\n"
     "(predicted), one name<TAB>value a line. The gains and the ramp switch (146) are put\n"
     "back as they were, also on failure or Ctrl-C; with --apply P and I are written to\n"
     "the set (1: 140/141, 2: 234/235, default both) and a verifying step prints its\n"
     "measured_ figures.",
     "ziro-bldc-cli --port ttyUSB0 tune velocity --apply"},
    {"scan", "scan [--baud RATES] [--from A] [--to B] [--turnaround MS]",
     "Finds the modules on the line: at each of RATES (115200, or a list: 115200,9600;\n"
     "default: every rate the serial panel offers, fastest first) and each address from A\n"
     "to B (default 1 to 255), sends one harmless read (get axis parameter 0) and waits a\n"
     "few frame times for an answer (14 ms at 115200 baud, 31 ms at 9600). Prints\n"
     "address<TAB>baud for each module that answers and address<TAB>baud<TAB>conflict\n"
     "where more than one module answers (two replies, or a broken one); a line that\n"
     "echoes the requests is said, and the echoes are no answers. The port is opened once\n"
     "for each rate and must not be in use. Progress goes to standard error when it is a\n"
     "terminal; Ctrl-C ends the scan after the address in progress. Exits 0 when any\n"
     "module answered, 1 when none did or the scan was interrupted. --turnaround gives\n"
     "each module MS milliseconds (default 12, 0 to 1000) on top of the frames' time, for\n"
     "slow adapters.",
     "ziro-bldc-cli --port /dev/ttyUSB0 --quiet scan --baud 115200,9600 --from 1 --to 32"},
    {"bode",
     "bode velocity [--from HZ] [--to HZ] [--points N] [--amplitude RPM] [--offset RPM] "
     "[--csv FILE] [--force]",
     "MOVES THE MOTOR. Measures the velocity loop's frequency response: switches the ramp\n"
     "(146) off, holds target velocity RPM (--offset, default 500), then at N frequencies\n"
     "(default 12, spaced logarithmically from --from to --to, default 1 to 40 Hz) writes a\n"
     "sine of target velocities around it (--amplitude, default 100 rpm) and reads the\n"
     "actual velocity in turn, as fast as the line allows. Prints freq_hz<TAB>gain_db<TAB>\n"
     "phase_deg for each frequency (of actual over target velocity), then bandwidth_hz\n"
     "(where the gain falls through -3 dB, none when it does not; a few frequencies near it\n"
     "are measured too) and peak_db. --csv writes the same table to FILE, with the header\n"
     "freq_hz,gain_db,phase_deg (a settings file, a script or a page there only with\n"
     "--force). Offset plus amplitude beyond the max. velocity (4) is\n"
     "refused before anything is written. Ends with target velocity 0 and the ramp switched\n"
     "back, also on failure or Ctrl-C, which ends the sweep at once.",
     "ziro-bldc-cli --port ttyUSB0 --baud 115200 --quiet bode velocity --csv bode.csv"},
    // commission
    {"commission",
     "commission GOLDEN_FILE (--addresses LIST | --scan [--from A] [--to B]) [--store] "
     "[--records DIR] [--keep-going] [--turnaround MS]",
     "Commissions every module of a line, in address order: the modules of LIST (A[,B...]),\n"
     "or every module a scan of addresses A to B finds (default 1 to 255) at the line's\n"
     "rate. For each it reads the 44 configuration parameters, writes only the values\n"
     "that differ from the settings file GOLDEN_FILE, reads all of them back and compares\n"
     "again; with --store it stores them in the module's non-volatile memory and checks\n"
     "with a restore that they were kept; with --records it writes the commissioning\n"
     "record DIR/module-<address>.html against the golden file. Prints\n"
     "address<TAB>verdict<TAB>changed<TAB>seconds per module, the verdict ok, failed (a\n"
     "value refused, not kept or not read back, named on standard error), absent (no\n"
     "answer) or conflict (more than one module answers; nothing is written there), then\n"
     "\"commissioned N of M modules in S s\". Stops at the first module that is not ok\n"
     "unless --keep-going is given; Ctrl-C ends it after the module in progress.\n"
     "--turnaround gives each module more time for the probe, as for scan. Exits 0 when\n"
     "every module is ok, 1 otherwise.",
     "ziro-bldc-cli --port ttyUSB0 --baud 115200 --quiet commission golden.ini --scan --store "
     "--records records"},
};

} // namespace

const CommandHelp* findCommand(const QString& name)
{
    for (const CommandHelp& help : commandHelp)
        if (name == QLatin1String(help.name))
            return &help;
    return nullptr;
}

QList<const CommandHelp*> commands()
{
    QList<const CommandHelp*> all;
    for (const CommandHelp& help : commandHelp)
        all << &help;
    return all;
}

QString generalHelp()
{
    QString text = QStringLiteral(
        "Usage: ziro-bldc-cli [--port PATH | --sim] [--baud N] [--address N] [--quiet] COMMAND "
        "[ARGS]\n"
        "\n"
        "Commissions a ZIRO-BLDC module from the command line.\n"
        "\n"
        "Options:\n"
        "  --port PATH   the module's port: a name (ttyUSB0) or a path (/dev/ttyUSB0, a pty,\n"
        "                a symbolic link; ./bus is a path too)\n"
        "  --sim         a simulated module served by the tool itself, to try commands\n"
        "  --baud N      line speed; 8 data bits, one stop bit, no parity, no flow control.\n"
        "                Without it the port keeps its own line settings (USB ports).\n"
        "                scan takes a list of rates to try (115200,9600).\n"
        "  --address N   module address 1 to 255 (default 1)\n"
        "  --quiet       no debug lines (every frame sent and received) on standard error\n"
        "  --force       export-ini, export-script, report, and --csv of watch, step and\n"
        "                bode: replace\n"
        "                a file that reads as another of the tool's kinds (a settings\n"
        "                file, a command script, an HTML page)\n"
        "  --help        this text; COMMAND --help describes one command\n"
        "  --version     the version of the tool\n"
        "\n"
        "Commands:\n");
    for (const CommandHelp& help : commandHelp)
        text += QStringLiteral("  %1\n      e.g. %2\n")
                    .arg(QLatin1String(help.synopsis), QLatin1String(help.example));
    text += QStringLiteral(
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the module refused something (status other than 100) or did not answer, or the\n"
        "     line was not clean (bytes arrived that answered no request: a late answer, a\n"
        "     line echo or a second module at the address); for diff and report: the values\n"
        "     differ\n"
        "  2  bad usage or a malformed file, a file that is no regular file, a file of\n"
        "     another kind in the way (without --force); nothing was sent\n"
        "  3  the port could not be opened (the reason is on standard error)\n");
    return text;
}

QString helpFor(const CommandHelp& help)
{
    return QStringLiteral("Usage: ziro-bldc-cli [--port PATH | --sim] [OPTIONS] %1\n\n%2\n\n"
                          "Example:\n  %3\n")
        .arg(QLatin1String(help.synopsis), QLatin1String(help.text), QLatin1String(help.example));
}

} // namespace cli
