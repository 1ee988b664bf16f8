# corrugo_dialog.tcl --
#
#	Drives the Corrugo dialog as a user would: opens it, sets fields,
#	types into entries, presses Apply, Return and Escape, and checks the
#	twelve words that reach qorvel_go, here a stub that records them.
#
# Usage: xvfb-run -a wish corrugo_dialog.tcl ?path/to/corrugo.tcl?
# Prints "N passed, M failed" last and exits non-zero on any failure.

# The script's path is taken before tcltest, which reads argv as its own
# options.
set script [file normalize [expr {$argc > 0 ? [lindex $argv 0]
	: [file join [file dirname [info script]] ../../script/corrugo.tcl]}]]
set argv {}
package require Tk
wm withdraw .
package require tcltest 2
namespace import ::tcltest::test

# An error in a binding would open Tk's error box and stall the run;
# record it instead, for the last test to report.
set bgerrors {}
interp bgerror {} {apply {{message options} {lappend ::bgerrors $message}}}

source $script
set defaults [array get ::corrugo::S]
set f .corrugo.f

# qorvel_go --
#
#	Stands in for the plug-in's command: records each call's arguments.

proc ::qorvel_go {args} {
    lappend ::calls $args
    return "the command's own result"
}

# fresh --
#
#	Starts a test from a newly opened dialog holding the first values,
#	with no call recorded.

proc fresh {} {
    destroy .corrugo
    array set ::corrugo::S $::defaults
    set ::calls {}
    qorvel_dialog
    update
}

# fill --
#
#	Replaces an entry's text, as selecting it all and typing would.

proc fill {entry text} {
    $entry delete 0 end
    $entry insert 0 $text
}

# press --
#
#	Sends keystrokes to a widget that has the focus; each key is a
#	character or, for longer names, a keysym such as Return.

proc press {w args} {
    focus -force $w
    update
    foreach key $args {
	if {[string length $key] > 1} {
	    event generate $w <KeyPress-$key>
	    continue
	}
	foreach char [split $key ""] {
	    set keysym [string map {- minus . period + plus " " space} $char]
	    event generate $w <KeyPress> -keysym $keysym
	}
    }
    update
}

# states --
#
#	Returns, for each widget, whether it is disabled (1) or not (0).

proc states {args} {
    lmap w $args {$w instate disabled}
}

test opensDialog {the menu procedure opens one titled dialog} -setup fresh -body {
    list [winfo toplevel .corrugo] [wm title .corrugo] [winfo ismapped .corrugo] \
	    [focus -lastfor .corrugo]
} -result {.corrugo Corrugo 1 .corrugo.f.frequency}

test firstValuesShown {the first opening shows the first values} -setup fresh -body {
    list [$f.frequency get] [$f.amplitude1 get] [$f.amplitude2 get] \
	    [$f.decay1 get] [$f.decay2 get] [$f.offset1 get] [$f.offset2 get] \
	    [lmap w [list $f.units.extent $f.freqaxis.x $f.axis1.y $f.axis2.n \
		    $f.random1 $f.random2 $f.mode.replace] {$w instate selected}]
} -result {2 0.1 0.1 0 0 0 0 {1 1 1 1 0 0 1}}

test applySendsFirstValues {Apply sends the first values and keeps the dialog open} -setup fresh -body {
    list [$f.apply invoke] $::calls [winfo ismapped .corrugo]
} -result {{} {{x y n 2 0.1 0.1 0 0 0 0 0 0}} 1}

test applySendsFieldsInOrder {every field reaches its own place among the twelve} -setup fresh -body {
    $f.freqaxis.z invoke
    $f.axis1.x invoke
    $f.axis2.y invoke
    fill $f.frequency 3.5
    fill $f.amplitude1 -0.25
    fill $f.amplitude2 1e-2
    fill $f.decay1 50
    fill $f.decay2 100
    fill $f.offset1 25
    fill $f.offset2 75
    $f.mode.add invoke
    $f.units.unit invoke
    $f.apply invoke
    list $::calls [::corrugo::arguments]
} -result {{{z x y 3.5 -0.25 1e-2 50 100 25 75 1 1}} {z x y 3.5 -0.25 1e-2 50 100 25 75 1 1}}

test modeAndUnitsSendDigits {replace/add and the frequency unit send 0 or 1} -setup fresh -body {
    foreach mode {replace add} {
	foreach units {extent unit} {
	    $f.mode.$mode invoke
	    $f.units.$units invoke
	    $f.apply invoke
	}
    }
    lmap call $::calls {list [lindex $call 10] [lindex $call 11]}
} -result {{0 0} {0 1} {1 0} {1 1}}

test randomOffsetSendsWord {a random offset sends the word random and keeps the number} -setup fresh -body {
    $f.axis2.z invoke
    fill $f.offset1 30
    fill $f.offset2 40
    $f.random1 invoke
    $f.apply invoke
    set first [states $f.offset1 $f.offset2]
    $f.random2 invoke
    $f.apply invoke
    $f.random1 invoke
    $f.apply invoke
    list $first [states $f.offset1 $f.offset2] \
	    [lmap call $::calls {lrange $call 8 9}]
} -result {{1 0} {0 1} {{random 40} {random random} {30 random}}}

test numericEntriesRefuseLetters {keystrokes that cannot make a number are refused} -setup fresh -body {
    $f.axis2.z invoke
    lmap e {frequency amplitude1 amplitude2 decay1 decay2 offset1 offset2} {
	fill $f.$e ""
	press $f.$e a - x . 5 " " e q - 3 Z
	$f.$e get
    }
} -result [lrepeat 7 -.5e-3]

test numericEntriesAcceptPartialNumbers {a number can be typed from an empty entry} -setup fresh -body {
    set seen {}
    fill $f.decay1 ""
    foreach key {+ 1 e - 7} {
	press $f.decay1 $key
	lappend seen [$f.decay1 get]
    }
    $f.decay1 insert end abc
    lappend seen [$f.decay1 get]
} -result {+ +1 +1e +1e- +1e-7 +1e-7}

test frequencyAxisUnavailableForWaves {the frequency axis is unavailable to both waves} -setup fresh -body {
    set seen {}
    foreach axis {y z x} {
	$f.freqaxis.$axis invoke
	lappend seen [states $f.axis1.x $f.axis1.y $f.axis1.z $f.axis1.n \
		$f.axis2.x $f.axis2.y $f.axis2.z $f.axis2.n]
    }
    set seen
} -result {{0 1 0 0 0 1 0 0} {0 0 1 0 0 0 1 0} {1 0 0 0 1 0 0 0}}

test noAxisDisablesWave {a wave that moves along no axis has its fields disabled} -setup fresh -body {
    set wave2 [list $f.amplitude2 $f.decay2 $f.offset2 $f.random2]
    set seen [list [states {*}$wave2]]
    $f.axis2.z invoke
    lappend seen [states {*}$wave2]
    $f.random2 invoke
    lappend seen [states {*}$wave2]
    $f.axis1.n invoke
    lappend seen [states $f.amplitude1 $f.decay1 $f.offset1 $f.random1]
} -result {{1 1 1 1} {0 0 0 0} {0 0 1 0} {1 1 1 1}}

test applySendsRejectedCombinations {Apply sends what the command will refuse, unchanged} -setup fresh -body {
    $f.freqaxis.y invoke
    fill $f.frequency ""
    $f.apply invoke
    fill $f.amplitude1 -
    $f.axis1.n invoke
    $f.apply invoke
    set ::calls
} -result {{y y n {} 0.1 0.1 0 0 0 0 0 0} {y n n {} - 0.1 0 0 0 0 0 0}}

test reopenRaisesSameDialog {opening again raises the one dialog} -setup fresh -body {
    set id [winfo id .corrugo]
    wm iconify .corrugo
    update
    qorvel_dialog
    update
    list [lsearch -all -inline [winfo children .] .corrugo*] \
	    [expr {[winfo id .corrugo] == $id}] [wm state .corrugo]
} -result {.corrugo 1 normal}

test closeWays {Escape, Close and the close box each close the dialog} -setup fresh -body {
    press $f.amplitude1 Escape
    set seen [winfo exists .corrugo]
    qorvel_dialog
    $f.close invoke
    lappend seen [winfo exists .corrugo]
    qorvel_dialog
    uplevel #0 [wm protocol .corrugo WM_DELETE_WINDOW]
    lappend seen [winfo exists .corrugo] $::calls
} -result {0 0 0 {}}

test reopenShowsLastValues {the dialog reopens with the values last used} -setup fresh -body {
    $f.freqaxis.y invoke
    $f.axis1.z invoke
    $f.axis2.n invoke
    fill $f.frequency 4
    fill $f.amplitude1 0.5
    $f.random1 invoke
    $f.mode.add invoke
    $f.units.unit invoke
    press $f.frequency Escape
    qorvel_dialog
    update
    list [$f.frequency get] [$f.amplitude1 get] [$f.offset1 get] \
	    [states $f.offset1 $f.amplitude2 $f.axis1.y] \
	    [lmap w [list $f.freqaxis.y $f.axis1.z $f.random1 $f.mode.add $f.units.unit] \
		{$w instate selected}] \
	    [::corrugo::arguments]
} -result {4 0.5 0 {1 1 1} {1 1 1 1 1} {y z n 4 0.5 0.1 0 0 random 0 1 1}}

test returnApplies {Return applies from any field and keeps the dialog open} -setup fresh -body {
    fill $f.decay1 10
    press $f.decay1 Return
    $f.axis1.z invoke
    press $f.axis1.z Return
    list $::calls [winfo exists .corrugo]
} -result {{{x y n 2 0.1 0.1 10 0 0 0 0 0} {x z n 2 0.1 0.1 10 0 0 0 0 0}} 1}

test noBackgroundErrors {no binding or callback raised an error} -body {
    set ::bgerrors
} -result {}

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
