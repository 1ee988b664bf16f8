# corrugo_settings.tcl --
#
#	The Corrugo dialog's presets and its settings file, driven as a user
#	would: each session is a new interpreter with Tk in which the dialog
#	is opened, as when the modeller starts again. The settings file lives
#	in this run's own temporary folder (HOME and XDG_CONFIG_HOME point
#	there).
#
# Usage: xvfb-run -a wish corrugo_settings.tcl ?path/to/corrugo.tcl?
# Prints "N passed, M failed" last and exits non-zero on any failure.

source [file join [file dirname [info script]] in_tk.tcl]

source $script	;# for the help's words
set root [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
	corrugo-settings-[pid]]
file delete -force $root
file mkdir $root
set env(HOME) [file join $root home]
set env(XDG_CONFIG_HOME) [file join $root config]
set settings [file join $root config corrugo settings.tcl]

# copy, session --
#
#	A copy of the dialog running: a new interpreter where the dialog
#	script was sourced and the dialog opened, with the focus on its
#	first field ($f is its frame, qorvel_go records its calls in ::calls
#	and the bell counts its rings in ::bells). A session runs a script
#	in a copy of its own and returns the script's result.

proc copy {} {
    set i [interp create]
    $i alias recordBgerror recordBgerror
    foreach p {fill answer answerBox choose press paste edge} {
	$i eval [list proc $p [info args $p] [info body $p]]
    }
    $i eval [list set script $::script]
    $i eval {
	package require Tk
	wm withdraw .
	interp bgerror {} recordBgerror
	source $script
	proc qorvel_go {args} {lappend ::calls $args}
	proc bell {args} {incr ::bells}
	set ::calls {}
	set ::bells 0
	set f .corrugo.f
	qorvel_dialog
	focus -force $f.frequency
	update
    }
    return $i
}

proc session {body} {
    set i [copy]
    try {
	$i eval $body
    } finally {
	interp delete $i
    }
}

# press, paste --
#
#	Send a key to a widget that has the focus; paste a text from the
#	clipboard into an entry.

proc press {w key} {
    focus -force $w
    update
    event generate $w <KeyPress-$key>
    if {[winfo exists $w]} {
	event generate $w <KeyRelease-$key>
    }
    update
}

proc paste {entry text} {
    clipboard clear
    clipboard append $text
    focus -force $entry
    update
    event generate $entry <<Paste>>
    update
}

proc fill {entry text} {
    $entry delete 0 end
    $entry insert 0 $text
}

# edge --
#
#	Saves a preset whose frequency and name make the settings file
#	"extra" bytes larger than the limit (the frequency is written twice:
#	in the preset and in the last values, the name once). Returns what
#	the message line says.

proc edge {extra} {
    set f .corrugo.f
    set limit $::corrugo::S(fileLimit)
    fill $f.frequency 1.
    set size [::corrugo::Bytes [::corrugo::SettingsText [::corrugo::Checked] \
	    [dict replace $::corrugo::User E [::corrugo::Checked]]]]
    set need [expr {$limit + $extra - $size}]
    fill $f.frequency 1.[string repeat 0 [expr {$need / 2}]]
    $f.presets.save invoke
    fill .corrugo.name.entry E[string repeat e [expr {$need % 2}]]
    .corrugo.name.save invoke
    return $::corrugo::S(note)
}

# choose --
#
#	Picks a preset from the list, as a click on it would.

proc choose {name} {
    set box .corrugo.f.presets.choice
    $box set $name
    event generate $box <<ComboboxSelected>>
    update
}

# answer --
#
#	Runs a script that should ask a question in a message box, and
#	presses the box's button (yes or no) once it is up. Returns the
#	questions asked.

proc answer {button script} {
    set ::asked {}
    after 20 [list answerBox $button 0]
    uplevel 1 $script
    update
    return $::asked
}

proc answerBox {button tries} {
    foreach w {.corrugo.__tk__messagebox .corrugo.name.__tk__messagebox} {
	if {[winfo exists $w] && [winfo ismapped $w]} {
	    lappend ::asked [$w.msg cget -text]
	    $w.$button invoke
	    return
	}
    }
    if {$tries < 250} {
	after 20 [list answerBox $button [incr tries]]
    }
}

# slurp, spill --
#
#	Read and write a file's bytes.

proc slurp {path} {
    set channel [open $path rb]
    set bytes [read $channel]
    close $channel
    return $bytes
}

proc spill {path text} {
    file mkdir [file dirname $path]
    set channel [open $path wb]
    puts -nonewline $channel $text
    close $channel
}

# contents --
#
#	Returns what the settings file holds: its bytes, its size when it is
#	large, nothing when it is no file.

proc contents {} {
    if {[catch {file type $::settings} type] || $type ne "file"} {
	return ""
    } elseif {[file size $::settings] > 1000000} {
	return "[file size $::settings] bytes"
    }
    slurp $::settings
}

proc clean {} {
    catch {file attributes $::settings -permissions 0o644}
    file delete -force [file dirname $::settings]
}

test builtInPresetsFillEveryField {each built-in preset fills every field, each with a value it may hold, and the drawing, applying nothing} -setup clean -body {
    session {
	set seen {}
	set before [.corrugo.f.profile coords wave1]
	foreach name [lrange [$f.presets.choice cget -values] 0 end] {
	    # Values no preset holds: each must be set by the preset.
	    array set ::corrugo::S {frequency 77 units 9 freqaxis q axis1 q
		axis2 q amplitude1 77 amplitude2 77 decay1 77 decay2 77
		offset1 77 offset2 77 random1 0 random2 9 mode 9}
	    choose $name
	    set drawn [concat [.corrugo.f.profile coords wave1] [.corrugo.f.profile coords wave2]]
	    lappend seen $name [::corrugo::arguments] [expr {$drawn ne $before}] \
		    [$f.presets.delete instate disabled]
	    set before $drawn
	}
	lappend seen $::calls
    }
} -result {{Corrugated sheet} {x y n 10 0.05 0 0 0 0 0 0 0} 1 1 {Roof tiles} {x y n 6 0.15 0 0 0 0 0 1 0} 1 1 {Spring (helix)} {z x y 1 0.3 0.3 0 0 0 0 1 1} 1 1 {Fading ripple} {x y n 4 0.2 0 100 0 0 0 1 0} 1 1 {Wavy boards, each its own} {y x n 2 0.2 0 0 0 random 0 1 0} 1 1 {}}

test presetShownModified {changing a field after choosing a preset shows it as modified; changing it back does not} -setup clean -body {
    session {
	choose "Roof tiles"
	set seen [list [$f.presets.choice get]]
	fill $f.decay1 5
	lappend seen [$f.presets.choice get]
	fill $f.decay1 0
	lappend seen [$f.presets.choice get]
	$f.mode.replace invoke
	lappend seen [$f.presets.choice get]
    }
} -result {{Roof tiles} {Roof tiles (modified)} {Roof tiles} {Roof tiles (modified)}}

test presetsKeptBetweenSessions {a preset saved, the values applied: both are there in the next session} -setup clean -body {
    session {
	choose "Spring (helix)"
	fill $f.frequency 3
	$f.presets.save invoke
	fill .corrugo.name.entry "My spring"
	.corrugo.name.save invoke
	fill $f.amplitude1 0.7
	$f.apply invoke
    }
    session {
	set seen [list [$f.presets.choice cget -values] [$f.presets.choice get] \
		[::corrugo::arguments] [expr {$::corrugo::S(note) eq $::corrugo::Help(frequency)}]]
	choose "Corrugated sheet"
	choose "My spring"
	lappend seen [::corrugo::arguments] [$f.presets.delete instate disabled]
    }
} -result {{{Corrugated sheet} {Roof tiles} {Spring (helix)} {Fading ripple} {Wavy boards, each its own} {My spring}} {} {z x y 3 0.7 0.3 0 0 0 0 1 1} 1 {z x y 3 0.3 0.3 0 0 0 0 1 1} 0}

test saveAsAsksBeforeReplacing {saving over one's own preset asks first; built-in and empty names are refused} -setup clean -body {
    set first [session {
	set seen {}
	fill $f.frequency 5
	$f.presets.save invoke
	fill .corrugo.name.entry Mine
	.corrugo.name.save invoke
	fill $f.frequency 7
	$f.presets.save invoke
	foreach name {"" "  " "Roof tiles"} {
	    fill .corrugo.name.entry $name
	    .corrugo.name.save invoke
	    lappend seen $::corrugo::S(nameMessage)
	}
	fill .corrugo.name.entry Mine
	lappend seen [answer no {.corrugo.name.save invoke}] [winfo exists .corrugo.name]
	choose Mine
	lappend seen [lindex [::corrugo::arguments] 3]
	fill $f.frequency 7
	$f.presets.save invoke
	lappend seen [.corrugo.name.entry get]
	lappend seen [answer yes {.corrugo.name.save invoke}] [winfo exists .corrugo.name] \
		[$f.presets.choice get]
    }]
    concat $first [session {
	choose Mine
	lindex [::corrugo::arguments] 3
    }]
} -result {{Enter a name for the preset.} {Enter a name for the preset.} {"Roof tiles" is a built-in preset: choose another name.} {{Replace the preset "Mine"?}} 1 5 Mine {{Replace the preset "Mine"?}} 0 Mine 7}

test deleteOwnPreset {one's own preset is deleted after asking, for this session and the next} -setup clean -body {
    set first [session {
	foreach name {First Second} {
	    $f.presets.save invoke
	    fill .corrugo.name.entry $name
	    .corrugo.name.save invoke
	}
	set seen [answer no {$f.presets.delete invoke}]
	lappend seen [lrange [$f.presets.choice cget -values] end-1 end]
	lappend seen [answer yes {$f.presets.delete invoke}]
	lappend seen [lrange [$f.presets.choice cget -values] end-1 end] \
		[$f.presets.choice get] [$f.presets.delete instate disabled]
    }]
    concat $first [session {
	lindex [$f.presets.choice cget -values] end
    }]
} -result {{Delete the preset "Second"?} {First Second} {{Delete the preset "Second"?}} {{Wavy boards, each its own} First} {} 1 First}

# What the user did in one or more copies of the dialog, and what a new
# session finds: nothing the user kept is lost.
set work {
    halfTypedFields {
	session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry Mine
	    .corrugo.name.save invoke
	    fill $f.frequency 5
	    fill $f.amplitude1 0.3
	    $f.apply invoke
	    fill $f.frequency 1e
	    fill $f.amplitude1 ""
	    press $f.frequency Escape
	}
	session {
	    list [lrange [::corrugo::arguments] 3 4] [dict keys $::corrugo::User] \
		    $::corrugo::S(trouble)
	}
    } {{5 0.3} Mine {}}
    closedMidEdit {
	session {
	    press $f.frequency 3
	    press $f.frequency Tab
	    $f.frequency selection range 0 end
	    press $f.frequency 1
	    press $f.frequency e
	    press $f.frequency Escape
	}
	session {
	    lindex [::corrugo::arguments] 3
	}
    } 3
    presetWhileANumberIsUnfinished {
	list [session {
	    fill $f.amplitude1 -
	    $f.presets.save invoke
	    fill .corrugo.name.entry Dash
	    .corrugo.name.save invoke
	    set seen [list $::corrugo::S(nameMessage) [winfo exists .corrugo.name]]
	    $f.close invoke
	    set seen
	}] [session {
	    list [dict keys $::corrugo::User] $::corrugo::S(trouble)
	}]
    } {{{Sine wave amplitude: enter a number} 1} {{} {}}}
    presetWithAnUnusedField {
	session {
	    $f.axis2.z invoke
	    fill $f.amplitude2 0.3
	    fill $f.amplitude2 ""
	    $f.axis2.n invoke
	    $f.presets.save invoke
	    fill .corrugo.name.entry Off
	    .corrugo.name.save invoke
	}
	session {
	    choose Off
	    list [::corrugo::arguments] $::corrugo::S(trouble)
	}
    } {{x y n 2 0.1 0.3 0 0 0 0 0 0} {}}
    twoCopies {
	set a [copy]
	set b [copy]
	$a eval {
	    $f.presets.save invoke
	    fill .corrugo.name.entry "Made in A"
	    .corrugo.name.save invoke
	}
	$b eval {
	    $f.presets.save invoke
	    fill .corrugo.name.entry "Made in B"
	    .corrugo.name.save invoke
	    $f.apply invoke
	}
	set seen [$b eval {$f.presets.choice cget -values}]
	$a eval {answer yes {$f.presets.delete invoke}}
	$b eval {$f.close invoke}
	interp delete $a
	interp delete $b
	list [lrange $seen end-1 end] [session {dict keys $::corrugo::User}]
    } {{{Made in A} {Made in B}} {{Made in B}}}
    leftOutKeptAside {
	set values {frequency 9 units 0 freqaxis X axis1 Y axis2 n amplitude1 0.1
	    amplitude2 0.1 decay1 0 decay2 0 offset1 0 offset2 0 random1 0 random2 0 mode 0}
	spill $::settings "corrugo-settings 1\nlast [list $values]\npresets [list [list \
		Upper $values Bad [dict replace $values amplitude1 x] Worse frequency \
		A 1 B 2 C 3]]\n"
	set seen [session {
	    set seen [list [dict keys $::corrugo::User] [lrange [::corrugo::arguments] 0 2] \
		    [winfo ismapped $f.details]]
	    $f.details invoke
	    update
	    lappend seen [.corrugo.details.text get 2.0 end-1c]
	    $f.apply invoke
	    set seen
	}]
	lappend seen [session {list $::corrugo::S(trouble) [winfo ismapped $f.details]}]
	# A session that finds the presets again keeps them aside once.
	spill $::settings "corrugo-settings 1\nlast [list $values]\npresets [list [list A 1]]\n"
	session {}
	lappend seen [slurp [file join [file dirname $::settings] presets-left-out.tcl]]
    } {Upper {x y n} 1 {preset "Bad": amplitude1 "x" is not a number
preset "Worse": not a list of fields and values
preset "A": not a list of fields and values
preset "B": not a list of fields and values
preset "C": not a list of fields and values} {{} 0} {# Presets the dialog left out of settings.tcl, as it held them:
# mend one and move it back into that file's presets.
    Bad {frequency 9 units 0 freqaxis X axis1 Y axis2 n amplitude1 x amplitude2 0.1 decay1 0 decay2 0 offset1 0 offset2 0 random1 0 random2 0 mode 0}
    Worse frequency
    A 1
    B 2
    C 3
}}
    saveFailsOnClose {
	spill $::settings.lock ""
	set seen [session {
	    set ::corrugo::S(lockWait) 50
	    fill $f.frequency 8
	    answer ok {$f.close invoke}
	}]
	file delete $::settings.lock
	string map [list $::settings SETTINGS] $seen
    } {{Settings not saved to SETTINGS: another copy of the dialog holds its lock, SETTINGS.lock (delete it if no copy is saving).}}
    nameWindowKeys {
	set seen [session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry Cancelled
	    press .corrugo.name.cancel Return
	    set seen [winfo exists .corrugo.name]
	    $f.presets.save invoke
	    fill .corrugo.name.entry ""
	    paste .corrugo.name.entry "Two\nlines"
	    lappend seen [.corrugo.name.entry get] $::corrugo::S(nameMessage) $::bells
	    press .corrugo.name.entry Tab
	    fill .corrugo.name.entry "Two lines"
	    press .corrugo.name.entry Return
	    lappend seen [winfo exists .corrugo.name]
	}]
	lappend seen [session {list [dict keys $::corrugo::User] $::corrugo::S(trouble)}]
    } {0 {} {A preset's name cannot hold a line break, a tab or another control character.} 1 0 {{{Two lines}} {}}}
    longPresetName {
	session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry "A preset with a name much longer than the box was at first"
	    .corrugo.name.save invoke
	    fill $f.frequency 3
	    update
	    set box $f.presets.choice
	    list [$box get] [expr {[winfo reqwidth $box] > [font measure TkTextFont [$box get]]}]
	}
    } {{A preset with a name much longer than the box was at first (modified)} 1}
    nameTakenByAnotherCopy {
	set a [copy]
	set b [copy]
	$a eval {
	    $f.presets.save invoke
	    fill .corrugo.name.entry Shared
	    .corrugo.name.save invoke
	}
	set seen [$b eval {
	    fill $f.frequency 9
	    $f.presets.save invoke
	    fill .corrugo.name.entry Shared
	    set seen [answer no {.corrugo.name.save invoke}]
	    lappend seen [answer yes {.corrugo.name.save invoke}]
	}]
	interp delete $a
	interp delete $b
	lappend seen [session {choose Shared; lindex [::corrugo::arguments] 3}]
    } {{Replace the preset "Shared"?} {{Replace the preset "Shared"?}} 9}
    changedByAnotherCopyWhileAsking {
	set a [copy]
	set b [copy]
	$a eval {
	    $f.presets.save invoke
	    fill .corrugo.name.entry Shared
	    .corrugo.name.save invoke
	    # A saves Shared again while B's question is up.
	    after 0 {
		fill $f.frequency 4
		dict set ::corrugo::User Shared [::corrugo::Checked]
		::corrugo::SaveSettings
	    }
	}
	set seen [$b eval {
	    fill $f.frequency 9
	    $f.presets.save invoke
	    fill .corrugo.name.entry Shared
	    set seen [answer yes {.corrugo.name.save invoke}]
	    lappend seen [string match {The preset "Shared" was saved by another copy*} \
		    $::corrugo::S(note)] [dict get $::corrugo::User Shared frequency]
	}]
	interp delete $a
	interp delete $b
	lappend seen [session {choose Shared; lindex [::corrugo::arguments] 3}]
    } {{Replace the preset "Shared"?} 1 4 4}
}


# wrongRows TABLE --
#	Runs each row of a table of case, body and result, each from a clean
#	folder; returns the cases whose body gave another result, each with
#	what it gave.

proc wrongRows {table} {
    set wrong {}
    foreach {case body result} $table {
	clean
	set seen [uplevel #0 $body]
	if {$seen ne $result} {
	    lappend wrong $case $seen
	}
    }
    return $wrong
}

test usersWorkKept {a field left half typed, a preset saved meanwhile, two copies of the dialog at once, names pasted: what the user kept is there in the next session} -body {
    wrongRows $::work
} -result {}

# racer --
#
#	The script of one copy of the dialog in a process of its own: it
#	makes the file "go.TAG" when it is ready and, once the file "go"
#	appears, saves 40 presets named after its tag and
#	deletes every odd one as soon as the next is saved, then prints what
#	its message line says.

set racer {
    lassign $argv script tag go
    set argv {}
    package require Tk
    wm withdraw .
    source $script
    proc qorvel_go {args} {}
    proc bell {args} {}
    proc tk_messageBox {args} {return yes}
    qorvel_dialog
    update
    close [open $go.$tag w]	;# ready
    while {![file exists $go]} {
	after 2
    }
    set f .corrugo.f
    set notes {}
    for {set k 1} {$k <= 40} {incr k} {
	$f.frequency delete 0 end
	$f.frequency insert 0 $k
	$f.presets.save invoke
	.corrugo.name.entry delete 0 end
	.corrugo.name.entry insert 0 "$tag $k"
	.corrugo.name.save invoke
	lappend notes $::corrugo::S(trouble)
	if {$k % 2 == 0} {
	    ::corrugo::Choose "$tag [expr {$k - 1}]"
	    $f.presets.delete invoke
	    lappend notes $::corrugo::S(trouble)
	}
	update
    }
    puts [join [lsort -unique $notes] "; "]
    exit
}

test twoProcessesRace {two copies of the dialog, each in its own process, saving 40 presets and deleting 20 at the same time: none is lost, none deleted comes back} -setup clean -body {
    set file [file join $::root racer.tcl]
    spill $file $::racer
    set go [file join $::root go]
    file delete $go $go.A $go.B
    set runs {}
    foreach tag {A B} {
	lappend runs [open |[list [info nameofexecutable] $file $::script $tag $go 2>@1] r]
    }
    # Both start at once, when both are ready.
    for {set wait 0} {$wait < 3000 && !([file exists $go.A] && [file exists $go.B])} {incr wait} {
	after 10
    }
    spill $go ""
    set notes {}
    foreach run $runs {
	lappend notes [string trim [read $run]]
	close $run
    }
    set kept [session {dict keys $::corrugo::User}]
    set lost {}
    set back {}
    foreach tag {A B} {
	for {set k 1} {$k <= 40} {incr k} {
	    if {$k % 2 == 0 && [lsearch -exact $kept "$tag $k"] < 0} {
		lappend lost "$tag $k"
	    } elseif {$k % 2 == 1 && [lsearch -exact $kept "$tag $k"] >= 0} {
		lappend back "$tag $k"
	    }
	}
    }
    list $notes [llength $kept] $lost $back [glob -nocomplain -directory [file dirname $::settings] *.lock]
} -result {{{} {}} 40 {} {} {}}

# The files a session may find, as a command that makes it, what the
# message line says (%s: the file's path; "" when the file is fine), the
# fields' values and the user's presets the dialog opens with, and whether
# the file is written again (a file that cannot be read at all is not).
# Each value or preset the dialog cannot use costs that value or that
# preset alone.
set lastGood {frequency 3 units 1 freqaxis y axis1 z axis2 x amplitude1 0.5
    amplitude2 0.7 decay1 10 decay2 20 offset1 25 offset2 35 random1 1 random2 1 mode 1}
set oldPreset {frequency 9 units 0 freqaxis x axis1 y axis2 n amplitude1 0.1
    amplitude2 0.1 decay1 0 decay2 0 offset1 0 offset2 0 random1 0 random2 0 mode 0}
set goodValues {3 1 y z x 0.5 0.7 10 20 25 35 1 1 1}
set firstValues {2 0 x y n 0.1 0.1 0 0 0 0 0 0 0}

proc settingsText {last presets args} {
    return "# mine\ncorrugo-settings 1\nlast [list $last]\npresets [list $presets] $args\n"
}

proc sparse {path size} {
    file mkdir [file dirname $path]
    set channel [open $path w]
    chan seek $channel $size
    puts -nonewline $channel x
    close $channel
}

set good [settingsText $lastGood [list Old $oldPreset]]
set notRead "Settings not read from %s: %s. The dialog starts from its first values and leaves the file as it is."
set leftOut "Some settings in %%s were left out: %s."
set leftOutAside "Some settings in %%s were left out: %s. The presets left out are kept in ASIDE."
set faults [list \
    absent {} "" $firstValues {} 1 \
    good [list spill $settings $good] "" $goodValues Old 1 \
    empty [list spill $settings ""] "" $firstValues {} 1 \
    comments [list spill $settings "# mine\n\n# yours\n"] "" $firstValues {} 1 \
    folder [list file mkdir $settings] [format $notRead %s "it is not a regular file"] \
	$firstValues {} 0 \
    pipe [list exec mkfifo $settings] [format $notRead %s "it is not a regular file"] \
	$firstValues {} 0 \
    device [list file link -symbolic $settings /dev/zero] \
	[format $notRead %s "it is not a regular file"] $firstValues {} 0 \
    large [list sparse $settings 3000000000] [format $notRead %s "it is larger than 1 MiB"] \
	$firstValues {} 0 \
    broken [list spill $settings "# mine\ncorrugo-settings 1\nlast {frequency 3\n"] \
	[format $notRead %s "line 3: not a Tcl list (an unmatched brace or quote)"] \
	$firstValues {} 0 \
    foreign [list spill $settings "proc qorvel_go args {exit 3}\n"] \
	[format $notRead %s "not a Corrugo settings file"] $firstValues {} 0 \
    newer [list spill $settings [string map {"settings 1" "settings 2"} $good]] \
	[format $notRead %s "settings format \"2\" is not known to this Corrugo"] \
	$firstValues {} 0 \
    readOnly [list apply {{path text} {spill $path $text; file attributes $path -permissions 0o444}} $settings $good] \
	{%s is read-only: settings changed here are not kept.} $goodValues Old 0 \
    code [list spill $settings [string map {"amplitude1 0.1" "amplitude1 {[set ::ran 1]}"} $good]] \
	[format $leftOutAside {preset "Old": amplitude1 "[set ::ran 1]" is not a number}] $goodValues {} 1 \
    lastNotList [list spill $settings [settingsText {frequency 3 units} [list Old $oldPreset]]] \
	[format $leftOut {last values: not a list of fields and values}] $firstValues Old 1 \
    noLast [list spill $settings "corrugo-settings 1 presets [list [list Old $oldPreset]]"] \
	[format $leftOut {no entry "last"}] $firstValues Old 1 \
    unknownEntry [list spill $settings [settingsText $lastGood [list Old $oldPreset] colour blue]] \
	[format $leftOut {unknown entry "colour"}] $goodValues Old 1 \
    presetsNotList [list spill $settings [settingsText $lastGood {Old}]] \
	[format $leftOutAside {presets: not a list of names and values}] $goodValues {} 1 \
    presetNames [list spill $settings [settingsText $lastGood [list Old $oldPreset \
	    "" $oldPreset "Roof tiles" $oldPreset Old $lastGood "Two\nlines" $oldPreset]]] \
	[format $leftOutAside {preset "": the name is empty, built in or repeated; preset "Roof tiles": the name is empty, built in or repeated; preset "Old": the name is empty, built in or repeated; and 1 more (see Details...)}] \
	$goodValues Old 1 \
    controlName [list spill $settings [settingsText $lastGood [list "Two\nlines" $oldPreset Old $oldPreset]]] \
	[format $leftOutAside {preset "Two?lines": the name holds a control character}] $goodValues Old 1 \
    presetFields [list spill $settings [settingsText $lastGood [list Old $oldPreset \
	    Extra [concat $oldPreset colour blue] Short [lrange $oldPreset 0 end-2] \
	    Twice [concat $oldPreset mode 1]]]] \
	[format $leftOutAside {preset "Extra": unknown field "colour"; preset "Short": no value for mode; preset "Twice": mode is given twice}] \
	$goodValues Old 1 \
]
# Each field of the last values, wrong: it alone keeps its first value.
set n 0
foreach {key wrong why} {
    frequency 1e "is not a number" units 2 "is not one of 0, 1"
    freqaxis n "is not one of x, y, z" axis1 w "is not one of x, y, z, n"
    axis2 "" "is not one of x, y, z, n" amplitude1 - "is not a number"
    amplitude2 0x10 "is not a number" decay1 1,5 "is not a number"
    decay2 "" "is not a number" offset1 abc "is not a number"
    offset2 . "is not a number" random1 yes "is not one of 0, 1"
    random2 2 "is not one of 0, 1" mode add "is not one of 0, 1"
} {
    lappend faults $key [list spill $settings [settingsText [dict replace $lastGood $key $wrong] \
	    [list Old $oldPreset]]] \
	[format $leftOut "last values: $key \"$wrong\" $why"] \
	[lreplace $goodValues $n $n [lindex $firstValues $n]] Old 1
    incr n
}

test settingsFileFaults {a file that is absent, empty, not a regular file, too large, broken, foreign or read-only, or that holds values or presets the dialog cannot use: the dialog opens, says why, loses nothing else, and writes only what it can read back} -body {
    set wrong {}
    foreach {case make note values presets written} $::faults {
	clean
	file mkdir [file dirname $::settings]
	eval $make
	set before [contents]
	set seen [session {
	    set seen [list $::corrugo::S(note) \
		    [lmap key $::corrugo::S(fields) {set ::corrugo::S($key)}] \
		    [dict keys $::corrugo::User] [info exists ::ran]]
	    fill $f.frequency 4
	    $f.apply invoke
	    $f.presets.save invoke
	    fill .corrugo.name.entry New
	    .corrugo.name.save invoke
	    $f.close invoke
	    lappend seen [llength $::calls]
	}]
	set expected [list [expr {$note eq "" ? $::corrugo::Help(frequency)
		: [string map [list ASIDE [file join [file dirname $::settings] presets-left-out.tcl]] \
		    [format $note $::settings]]}] $values $presets 0 1]
	if {$seen ne $expected} {
	    lappend wrong $case $seen
	}
	set after [contents]
	if {($after ne $before) != $written} {
	    lappend wrong $case "written [expr {!$written}]"
	} elseif {$written} {
	    # What is written reads back whole, with the change.
	    set back [session {
		list $::corrugo::S(trouble) [dict keys $::corrugo::User] $::corrugo::S(frequency)
	    }]
	    if {$back ne [list {} [concat $presets New] 4]} {
		lappend wrong $case $back
	    }
	}
    }
    set wrong
} -result {}

# filled --
#
#	A settings file of n presets named P1, P2..., each with a frequency
#	of "1." and so many zeros.

proc filled {n {zeros 0}} {
    set presets {}
    set values [dict replace $::oldPreset frequency 1.[string repeat 0 $zeros]]
    for {set k 1} {$k <= $n} {incr k} {
	lappend presets P$k $values
    }
    spill $::settings [settingsText $::lastGood $presets]
}

# What the limits allow, at each limit and one past it: how the file is
# made, what is done in a session, what it gives.
set limits {
    presetsAtTheLimit {
	filled 999
	session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry New
	    .corrugo.name.save invoke
	    list [winfo exists .corrugo.name] [dict size $::corrugo::User] $::corrugo::S(trouble)
	}
    } {0 1000 {}}
    presetsPastTheLimit {
	filled 1000
	session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry New
	    .corrugo.name.save invoke
	    list [winfo exists .corrugo.name] $::corrugo::S(nameMessage) [dict size $::corrugo::User]
	}
    } {1 {At most 1000 presets are kept: delete one first.} 1000}
    bytesAtTheLimit {
	filled 470 2000
	list [session {edge 0}] [file size $::settings] \
		[session {list [dict size $::corrugo::User] $::corrugo::S(trouble)}]
    } {{Frequency: how many waves. "cycles over the selection" fits that many across the selected vertices; "cycles per model unit" counts waves per unit of length.} 1048576 {471 {}}}
    bytesPastTheLimit {
	filled 470 2000
	list [session {edge 1}] [expr {[file size $::settings] <= 1048576}] \
		[session {list [dict size $::corrugo::User] $::corrugo::S(trouble)}]
    } {{The preset "E" was not saved: the settings file would be larger than 1 MiB.} 1 {470 {}}}
    nameAtTheLimit {
	session {
	    $f.presets.save invoke
	    fill .corrugo.name.entry [string repeat W 63]
	    press .corrugo.name.entry w
	    set seen [list [string length [.corrugo.name.entry get]] $::bells]
	    press .corrugo.name.entry w
	    lappend seen [string length [.corrugo.name.entry get]] $::bells $::corrugo::S(nameMessage)
	    .corrugo.name.save invoke
	    lappend seen [string length [lindex [dict keys $::corrugo::User] 0]]
	}
    } {64 0 64 1 {A preset's name holds at most 64 characters.} 64}
    longNamesInTheFile {
	spill $::settings [settingsText $::lastGood [list [string repeat W 64] $::oldPreset \
		[string repeat W 65] $::oldPreset]]
	set seen [session {
	    update
	    list [string length [dict keys $::corrugo::User]] [$f.presets.choice cget -width] \
		    [expr {[winfo reqwidth .corrugo] < 1100}] $::corrugo::S(note)
	}]
	lset seen 3 [string map [list $::settings SETTINGS [file dirname $::settings] FOLDER] \
		[lindex $seen 3]]
	set seen
    } {64 64 1 {Some settings in SETTINGS were left out: preset "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW...": the name is longer than 64 characters. The presets left out are kept in FOLDER/presets-left-out.tcl.}}
    keystrokeAtTheLimit {
	# The quickest of ten keystrokes, with 1000 presets and with none,
	# printed as a figure to read (at most 20 ms is the aim): a machine's
	# load decides a time, so no test passes or fails on one.
	set keystroke {
	    focus -force $f.amplitude1
	    update
	    set times {}
	    foreach key {1 2 3 4 5 BackSpace BackSpace BackSpace BackSpace BackSpace} {
		lappend times [lindex [time {
		    event generate $f.amplitude1 <KeyPress> -keysym $key
		    update
		}] 0]
	    }
	    lindex [lsort -integer $times] 0
	}
	set none [session $keystroke]
	filled 1000
	set full [session $keystroke]
	puts "a keystroke with 1000 presets: $full us, with none: $none us"
	expr {$full > 0 && $none > 0}
    } 1
}

test limits {at the limit of presets, bytes and a name's length, and one past it: the dialog refuses only what is past, says which limit, never writes a file it would refuse; a keystroke's time at the limit is printed} -body {
    wrongRows $::limits
} -result {}

test savedWholeOrNotAtAll {the file is replaced by a new one renamed over it, keeping its mode and its link; what an interrupted save left is removed} -setup clean -body {
    spill $::settings $::good
    file attributes $::settings -permissions 0o600
    file rename $::settings [file join $::root real.tcl]
    file link -symbolic $::settings [file join $::root real.tcl]
    # What a save killed while writing left behind, long ago.
    spill [file join $::root real.tcl.99999.new] "half"
    file mtime [file join $::root real.tcl.99999.new] [expr {[clock seconds] - 3600}]
    session {
	fill $f.frequency 8
	$f.close invoke
    }
    list [file type $::settings] \
	    [file attributes [file join $::root real.tcl] -permissions] \
	    [glob -nocomplain -tails -directory [file dirname $::settings] *] \
	    [glob -nocomplain -tails -directory $::root *.new] \
	    [session {lindex [::corrugo::arguments] 3}]
} -result {link 00600 settings.tcl {} 8}

# Saving a file of another user: root gives the new file back to its
# owner; another user, who cannot, leaves it alone and says why.
tcltest::testConstraint root [expr {[exec id -u] == 0}]
set asNobody {
    lassign $argv script
    source $script
    ::corrugo::LoadSettings
    set ::corrugo::S(frequency) 6
    catch {::corrugo::Locked $::corrugo::S(file) ::corrugo::Merge} message
    puts $message
}

test ownerKept {root saving another user's settings file keeps its owner, group and mode; another user saving root's is refused, saying why, the file as it was} -constraints root -setup clean -body {
    spill $::settings $::good
    file attributes $::settings -owner nobody -group nogroup -permissions 0o640
    session {
	fill $f.frequency 8
	$f.close invoke
    }
    set seen [list [file attributes $::settings -owner] [file attributes $::settings -group] \
	    [file attributes $::settings -permissions] [session {lindex [::corrugo::arguments] 3}]]
    # Now as nobody, the file root's, which nobody may write.
    file attributes $::settings -owner root -group nogroup -permissions 0o660
    file attributes [file dirname $::settings] -permissions 0o777
    set before [slurp $::settings]
    set program [file join $::root as-nobody.tcl]
    spill $program $::asNobody
    file copy -force $::script [file join $::root corrugo.tcl]
    lappend seen [exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
	    tclsh $program [file join $::root corrugo.tcl] << "" 2>@1] \
	    [expr {[slurp $::settings] eq $before}] [file attributes $::settings -owner] \
	    [glob -nocomplain -tails -directory [file dirname $::settings] *]
} -result {nobody nogroup 00640 8 {it belongs to root (group nogroup), which a file this user writes cannot keep: it is left as it is} 1 root settings.tcl}

test settingsFolder {the file lives under XDG_CONFIG_HOME, else the home folder's .config; on Windows under APPDATA} -body {
    set ::tcl_platform(platform) windows
    set ::env(APPDATA) [file join $::root roaming]
    set seen [list [::corrugo::SettingsFile]]
    unset ::env(APPDATA)
    lappend seen [::corrugo::SettingsFile]
    set ::tcl_platform(platform) unix
    lappend seen [::corrugo::SettingsFile]
    unset ::env(XDG_CONFIG_HOME)
    lappend seen [::corrugo::SettingsFile]
    set ::env(XDG_CONFIG_HOME) relative/folder
    lappend seen [::corrugo::SettingsFile]
    unset ::env(HOME)
    lappend seen [::corrugo::SettingsFile]
    set ::env(HOME) [file join $::root home]
    set ::env(XDG_CONFIG_HOME) [file join $::root config]
    string map [list $::root ROOT] $seen
} -setup {source $script} -result {ROOT/roaming/Corrugo/settings.tcl {} ROOT/config/corrugo/settings.tcl ROOT/home/.config/corrugo/settings.tcl ROOT/home/.config/corrugo/settings.tcl {}}

test noBackgroundErrors {no binding or callback raised an error} -body {
    set ::bgerrors
} -result {}

clean
file delete -force $root

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
