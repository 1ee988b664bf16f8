# in_tk.tcl --
#
#	What the dialog's tests in Tk begin with, sourced first by each: the
#	script to test (the first argument, or the one in this tree), taken
#	before tcltest, which reads argv as its own options; Tk with its main
#	window hidden; tcltest; and errors in bindings recorded in ::bgerrors
#	(by recordBgerror, which other interpreters may alias) rather than
#	shown in Tk's error box, which would stall the run.

set script [file normalize [expr {$argc > 0 ? [lindex $argv 0]
	: [file join [file dirname [info script]] ../../script/corrugo.tcl]}]]
set argv {}
package require Tk
wm withdraw .
package require tcltest 2
namespace import ::tcltest::test

set bgerrors {}
proc recordBgerror {message args} {
    lappend ::bgerrors $message
}
interp bgerror {} recordBgerror
