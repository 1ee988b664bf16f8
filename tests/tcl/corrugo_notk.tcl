# corrugo_notk.tcl --
#
#	Loads the Corrugo dialog script into a plain tclsh, the way any
#	interpreter may source it, and checks what must work without Tk.
#
# Usage: tclsh corrugo_notk.tcl ?path/to/corrugo.tcl?
# Prints "N passed, M failed" last and exits non-zero on any failure.

# The script's path is taken before tcltest, which reads argv as its own
# options.
set script [file normalize [expr {$argc > 0 ? [lindex $argv 0]
	: [file join [file dirname [info script]] ../../script/corrugo.tcl]}]]
set argv {}
package require tcltest 2
namespace import ::tcltest::test

test sourceWithoutTk {the script loads into tclsh and defines qorvel_dialog} -body {
    source $script
    list [info procs ::qorvel_dialog] [info procs ::corrugo::arguments]
} -result {::qorvel_dialog ::corrugo::arguments}

test sourcingLoadsNoTk {sourcing neither loads Tk nor creates a window} -body {
    list [catch {package present Tk}] [info commands ::winfo] [info commands ::tk]
} -result {1 {} {}}

test firstArguments {the first values are ones qorvel_go accepts} -body {
    ::corrugo::arguments
} -result {x y n 2 0.1 0.1 0 0 0 0 0 0}

test resourceKeepsValues {sourcing again keeps the values last used} -body {
    set ::corrugo::S(frequency) 7
    set ::corrugo::S(random2) 1
    source $script
    lrange [::corrugo::arguments] 3 9
} -cleanup {
    set ::corrugo::S(frequency) 2
    set ::corrugo::S(random2) 0
} -result {7 0.1 0.1 0 0 0 random}

test numberPrefixAccepts {texts on the way to a number pass the keystroke check} -body {
    set refused {}
    foreach text {"" - + . -. 0 12 1. 1.5 .5 -.5 1e 1E 1e- 1e+ 1e5 -2.5e-3 +.5E10} {
	if {![::corrugo::IsNumberPrefix $text]} {lappend refused $text}
    }
    set refused
} -result {}

test numberPrefixRefuses {texts that can lead to no number are refused} -body {
    set passed {}
    foreach text {a e -e .e x1 1a 1x 2.5cm -- +- 1.. 1.2.3 1e5e 1e5. 1ee " 1" "1 " random 0x10} {
	if {[::corrugo::IsNumberPrefix $text]} {lappend passed $text}
    }
    set passed
} -result {}

test dialogWithoutDisplay {opening the dialog with no display gives Tk's error} -body {
    unset -nocomplain env(DISPLAY)
    list [catch {qorvel_dialog} message] $message
} -match glob -result {1 *display*}

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
