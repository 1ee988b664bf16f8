# corrugo_plain.tcl --
#
#	The plain form of the Corrugo dialog, for a Tk older than 8.5. None
#	is packaged here, so it is checked two ways: its code is scanned for
#	what Tcl/Tk 8.5 and later added, and it is run in an interpreter
#	from which those commands were removed beforehand and which reports
#	Tk 8.4; there it must send the same twelve words as the full dialog
#	does, in this interpreter, for the same clicks and keys.
#
# Usage: xvfb-run -a wish corrugo_plain.tcl ?path/to/corrugo.tcl?
# Prints "N passed, M failed" last and exits non-zero on any failure.

source [file join [file dirname [info script]] in_tk.tcl]

# The full dialog keeps its settings in this run's own folder.
set root [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
	corrugo-plain-[pid]]
file delete -force $root
set env(XDG_CONFIG_HOME) $root

# What Tcl/Tk 8.5 and later added, as patterns over the code, each with
# the name the scan reports. Comment lines are not scanned.
set newer {
    {\{\*\}}				"{*}"
    {(^|[\[;])\s*(dict|lassign|lmap|apply|lrepeat|lreverse|chan|try|tailcall|coroutine|zlib)(\s|\]|$)}
					"a command of 8.5 or later"
    {\mttk::}				"ttk"
    {(\$[\w:()]+|\]|\})\s+(in|ni)\s}	"the in or ni operator"
    {\m(min|max|entier|bool|isqrt)\(}	"a function of 8.5 or later"
    {\*\*}				"the ** operator"
    {binary\s+(format|scan)\s+\S*[rRqQ]}	"a binary float format of 8.5"
    {\mTk\w*Font\M}			"a named font of Tk 8.5"
    {return\s+-(level|options)}		"return -level or -options"
    {string\s+is\s+list}		"string is list"
}

# plainPart --
#
#	Returns the fenced sections of the script that run on Tk 8.4 (those
#	whose opening fence names it), as line number and line pairs.

proc plainPart {} {
    set channel [open $::script]
    set lines [split [read $channel] \n]
    close $channel
    set part {}
    set inside 0
    set n 0
    foreach line $lines {
	incr n
	if {[string match "# \{====*Tcl/Tk 8.4*" $line]} {
	    set inside 1
	} elseif {[string match "# \}====*" $line]} {
	    set inside 0
	} elseif {$inside} {
	    lappend part $n $line
	}
    }
    return $part
}

test scanFindsNothingNewer {the plain form's code uses nothing that Tcl/Tk 8.5 added} -body {
    set part [plainPart]
    set found {}
    foreach {n line} $part {
	if {[string match #* [string trimleft $line]]} {
	    continue
	}
	foreach {pattern name} $::newer {
	    if {[regexp $pattern $line]} {
		lappend found "line $n: $name"
	    }
	}
    }
    list [expr {[llength $part] > 400}] [string match *Rows* $part] $found
} -result {1 1 {}}

test scanFindsNothingOf86 {the whole script, the full dialog included, uses nothing that Tcl 8.6 added: the full dialog runs on Tk 8.5} -body {
    set channel [open $::script]
    set lines [split [read $channel] \n]
    close $channel
    set found {}
    set n 0
    foreach line $lines {
	incr n
	if {![string match #* [string trimleft $line]] && [regexp \
		{(^|[\[;\{])\s*(lmap|try|tailcall|coroutine|yield|zlib|string\s+cat|dict\s+map|file\s+tempfile|lsort\s+-stride)(\s|\]|$)} \
		$line]} {
	    lappend found "line $n"
	}
    }
    set found
} -result {}

test scanFindsNoLeadingZero {no number in the script's code is written with a leading zero, which Tcl 9 reads as decimal and Tcl 8 as octal} -body {
    set channel [open $::script]
    set lines [split [read $channel] \n]
    close $channel
    set found {}
    set n 0
    foreach line $lines {
	incr n
	if {![string match #* [string trimleft $line]]
		&& [regexp {(^|[^\w.#])0[0-9]} $line]} {
	    lappend found "line $n"
	}
    }
    set found
} -result {}

test sectionsOfAtMost500Lines {the script is one file of fenced sections, each opened and closed by name and at most 500 lines long, with only its opening comment outside them} -body {
    set channel [open $::script]
    set lines [split [read $channel] \n]
    close $channel
    set found {}
    set open ""
    set n 0
    foreach line $lines {
	incr n
	if {[regexp {^# \{====(.*)$} $line -> name]} {
	    if {$open ne ""} {
		lappend found "line $n: opened inside$open"
	    }
	    set open $name
	    set start $n
	} elseif {[regexp {^# \}====(.*)$} $line -> name]} {
	    if {$name ne $open} {
		lappend found "line $n: closes$name, not$open"
	    } elseif {$n - $start > 500} {
		lappend found "$open: [expr {$n - $start}] lines"
	    }
	    set open ""
	} elseif {$open eq "" && [string trim $line] ne "" && ![string match #* $line]} {
	    lappend found "line $n: outside the sections"
	}
    }
    set found
} -result {}

# tabStops --
#
#	Presses Tab from the frequency until the focus comes back to it,
#	and returns the widgets it stopped on, each with whether its focus
#	shows (a classic widget's highlight).

proc tabStops {} {
    set f .corrugo.f
    set stops {}
    focus -force $f.frequency
    update
    for {set k 0} {$k < 40} {incr k} {
	event generate [focus] <KeyPress> -keysym Tab
	update
	set w [focus]
	if {$w eq "$f.frequency"} {
	    break
	}
	lappend stops [string range $w [string length $f.] end] \
		[expr {[$w cget -highlightthickness] > 0}]
    }
    return $stops
}

# An interpreter like one with Tk 8.4: the commands, functions, named
# fonts and float formats that came later are gone, and Tk says 8.4.
set old [interp create]
$old alias recordBgerror recordBgerror
$old alias recordCall recordCall
$old eval [list set script $script]
$old eval {
    package require Tk
    wm withdraw .
    auto_load tk_focusNext	;# Tk's own, loaded while it still can be
    foreach command {dict lassign lmap apply lrepeat lreverse chan try tailcall
	    coroutine yield zlib} {
	rename $command {}
    }
    foreach function {min max entier bool isqrt} {
	rename ::tcl::mathfunc::$function {}
    }
    # Tk's core still calls ttk::ThemeChanged when fonts change.
    foreach command [info commands ::ttk::*] {
	rename $command {}
    }
    proc ::ttk::ThemeChanged {} {}
    font delete {*}[font names]
    rename binary tcl_binary
    proc binary {option args} {
	if {[string match {*[rRqQ]*} [lindex $args 0]]} {
	    error "bad field specifier"
	}
	uplevel 1 [linsert $args 0 tcl_binary $option]
    }
    package forget Tk
    package provide Tk 8.4.20
    set tk_version 8.4
    set tk_patchLevel 8.4.20
    proc bgerror {message} {
	recordBgerror $message
    }
}

proc recordCall {form words} {
    lappend ::calls($form) $words
}

# drive --
#
#	Sends the same clicks, texts and keys to the dialog of an
#	interpreter; returns what its message line said along the way and
#	whether the dialog is still open at the end.

set steps {
    {$f.freqaxis.z invoke} {$f.axis1.x invoke} {$f.axis2.y invoke}
    {fill $f.frequency 3.5} {fill $f.amplitude1 -0.25} {fill $f.amplitude2 1e-2}
    {fill $f.decay1 50} {fill $f.decay2 100} {fill $f.offset1 25}
    {fill $f.offset2 75} {$f.mode.add invoke} {$f.units.unit invoke}
    {$f.apply invoke}
    {$f.random2 invoke} {press $f.decay1 Return}
    {fill $f.amplitude2 ""} {$f.apply invoke} {press $f.decay1 Return}
    {event generate $f.decayLabel <Enter>}
    {event generate $f.decayLabel <Leave>}
    {fill $f.amplitude2 .5} {$f.random1 invoke} {$f.mode.replace invoke}
    {$f.units.extent invoke} {press $f.amplitude2 Return}
    {fill $f.frequency 2} {$f.frequency selection range 0 end}
    {press $f.frequency n} {press $f.frequency 1} {press $f.frequency comma}
    {press $f.frequency 5} {fill $f.decay2 1e3} {$f.decay2 icursor end}
    {press $f.decay2 9} {press $f.amplitude1 Up} {press $f.decay1 Down}
    {press $f.decay1 Return}
    {press $f.amplitude1 End} {$f.frequency selection range 0 end}
    {press $f.frequency 7} {press $f.frequency e} {press $f.frequency Escape}
    {qorvel_dialog} {$f.apply invoke} {$f.close invoke}
}

proc drive {interp form} {
    $interp eval [list proc fill {entry text} {
	$entry delete 0 end
	$entry insert 0 $text
    }]
    $interp eval [list proc press {w key} {
	focus -force $w
	update
	event generate $w <KeyPress-$key>
	update
    }]
    $interp eval [list proc qorvel_go args [list eval [list recordCall $form] {$args}]]
    $interp eval {
	source $script
	qorvel_dialog
	set f .corrugo.f
	focus -force $f.frequency
	update
    }
    set notes {}
    foreach step $::steps {
	$interp eval $step
	set note [$interp eval {set ::corrugo::S(note)}]
	if {$note ne [lindex $notes end]} {
	    lappend notes $note
	}
    }
    lappend notes [$interp eval {winfo exists .corrugo}]
}

test plainFormOnOlderTk {with Tk 8.4 the menu entry opens the plain form of classic widgets} -body {
    $old eval {
	source $script
	qorvel_dialog
	update
	list [winfo class .corrugo.f.apply] [winfo class .corrugo.f.frequency] \
		[winfo exists .corrugo.f.profile] [wm title .corrugo] \
		[focus -lastfor .corrugo] [destroy .corrugo]
    }
} -result {Button Entry 0 Corrugo .corrugo.f.frequency {}}

test plainFormTabStops {in the plain form too, Tab stops only on what the user can change, and the focus shows on each} -body {
    $old eval [list proc tabStops {} [info body tabStops]]
    $old eval {
	source $script
	qorvel_dialog
	update
	set stops [tabStops]
	destroy .corrugo
	set stops
    }
} -result {units.extent 1 units.unit 1 freqaxis.x 1 freqaxis.y 1 freqaxis.z 1 axis1.y 1 axis1.z 1 axis1.n 1 axis2.y 1 axis2.z 1 axis2.n 1 amplitude1 1 decay1 1 offset1 1 random1 1 mode.replace 1 mode.add 1 apply 1 close 1}

test plainFormSendsSameWords {the plain form sends the twelve words the full dialog sends for the same clicks and keys: a key refused over a selection, a decimal comma, a number beyond single precision, Up and Down; closed in mid-edit, the last number finished; why Apply is greyed never hidden} -body {
    set new [interp create]
    $new alias recordCall recordCall
    $new alias recordBgerror recordBgerror
    $new eval [list set script $::script]
    $new eval {
	package require Tk
	wm withdraw .
	interp bgerror {} recordBgerror
    }
    set notes [list [drive $new full] [drive $::old plain]]
    interp delete $new
    list [expr {$calls(plain) eq $calls(full)}] [lindex $notes 0] \
	    [expr {[lindex $notes 1] eq [lindex $notes 0]}] $calls(plain)
} -result [list 1 {{Frequency: how many waves. "cycles over the selection" fits that many across the selected vertices; "cycles per model unit" counts waves per unit of length.} {Decay (%): how much the wave fades towards the far end of the selection (0 not at all, 100 down to nothing).} {Cosine wave amplitude: enter a number} {Decay (%): how much the wave fades towards the far end of the selection (0 not at all, 100 down to nothing).
Cosine wave amplitude: enter a number} {Cosine wave amplitude: enter a number} {Decay (%): how much the wave fades towards the far end of the selection (0 not at all, 100 down to nothing).} {Amplitude: how far each wave moves the vertices, in model units.} {Frequency: "n" is not a number (write one such as 1.5, -2 or 2.5e-3).} {Cosine wave decay: 1e39 is beyond single precision, which the command keeps numbers in (at most 3.4e38 either way).} {Amplitude: how far each wave moves the vertices, in model units.} {Decay (%): how much the wave fades towards the far end of the selection (0 not at all, 100 down to nothing).} {Amplitude: how far each wave moves the vertices, in model units.} {Frequency: how many waves. "cycles over the selection" fits that many across the selected vertices; "cycles per model unit" counts waves per unit of length.} {Frequency: enter a number} {Frequency: how many waves. "cycles over the selection" fits that many across the selected vertices; "cycles per model unit" counts waves per unit of length.} 0} 1 {{z x y 3.5 -0.25 1e-2 50 100 25 75 1 1} {z x y 3.5 -0.25 1e-2 50 100 25 random 1 1} {z x y 3.5 -0.25 .5 50 100 random random 0 0} {z x y 1.5 -0.2 .5 45 1e3 random random 0 0} {z x y 1.5 -0.2 .5 45 1e3 random random 0 0}}]

test plainFormKeysFollowTheFocus {in the plain form too, Return invokes the push button that has the focus, elsewhere Apply; Escape closes} -body {
    $old eval {
	proc ::qorvel_go args {incr ::applied}
	proc press {w key} {
	    focus -force $w
	    update
	    event generate $w <KeyPress-$key>
	    update
	}
	set seen {}
	foreach {w key} {
	    decay1 Return axis1.z Return units.unit KP_Enter random1 Return
	    apply Return close Return close KP_Enter amplitude1 Escape
	} {
	    destroy .corrugo
	    set ::applied 0
	    qorvel_dialog
	    update
	    press .corrugo.f.$w $key
	    lappend seen [list $w $::applied [winfo exists .corrugo]]
	}
	destroy .corrugo
	set seen
    }
} -result {{decay1 1 1} {axis1.z 1 1} {units.unit 1 1} {random1 1 1} {apply 1 1} {close 0 0} {close 0 0} {amplitude1 0 0}}

test noBackgroundErrors {no binding or callback raised an error, in either interpreter} -body {
    set ::bgerrors
} -result {}

interp delete $old
file delete -force $root

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
