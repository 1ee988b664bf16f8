# viewer_test.tcl --
#
#	Drives corrugo-host's viewer as a user would: the Tools menu entry the
#	plug-in added opens its dialog, Apply moves the model exactly as the
#	same command from the command line does, messages appear in message
#	boxes, Undo restores the file, the Select and File menus work, every
#	view is drawn inside its pane, and the dialog draws the wave exactly
#	as Apply moves the vertices.
#
# Usage, under a virtual X server, with the viewer started on roof.ac:
#	corrugo-host --gui EXAMPLES/roof.ac \
#		-c "set ::host HOST; set ::examples EXAMPLES" \
#		-c "source viewer_test.tcl"
# Prints "N passed, M failed" last and exits non-zero on any failure.

package require tcltest 2
namespace import ::tcltest::test

# An error in a binding would open Tk's error box and stall the run;
# record it instead, for the last test to report.
set bgerrors {}
interp bgerror {} {apply {{message options} {lappend ::bgerrors $message}}}

# slurp --
#
#	Returns a file's bytes.

proc slurp {path} {
    set channel [open $path rb]
    set bytes [read $channel]
    close $channel
    return $bytes
}

set roof [file join $::examples roof.ac]
set original [slurp $roof]
set scratch [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
	viewer-test-[pid]]
file mkdir $scratch
set f .corrugo.f

# spill --
#
#	Writes a text to a file.

proc spill {path text} {
    set channel [open $path wb]
    puts -nonewline $channel $text
    close $channel
}

# saved --
#
#	Saves the viewer's model under a name in the scratch folder and then
#	to its own file again (a scratch copy: the examples stay as they
#	are); returns the bytes saved under the name.

proc saved {name} {
    set file [dict get [::viewer::state] file]
    set path [file join $::scratch $name]
    ::viewer::save $path
    ::viewer::save $file
    slurp $path
}

# fill --
#
#	Replaces an entry's text, as selecting it all and typing would.

proc fill {entry text} {
    $entry delete 0 end
    $entry insert 0 $text
}

# menuEntry --
#
#	Invokes the entry of a menu that has a given label.

proc menuEntry {menu label} {
    $menu invoke [$menu index $label]
    update
}

# answerBox --
#
#	Runs a script that should show a message box, and presses the box's
#	OK button once it is up (Tk's message box waits in a nested event
#	loop, where timers still run). Returns the box's icon, message and
#	detail, or "no box" when none appeared.

proc answerBox {script} {
    set ::box "no box"
    set ::tries 0
    after 20 pressOk
    uplevel 1 $script
    update
    return $::box
}

proc pressOk {} {
    foreach w [list .__tk__messagebox .corrugo.__tk__messagebox] {
	if {[winfo exists $w] && [winfo ismapped $w]} {
	    set ::box [list [$w.bitmap cget -image] [$w.msg cget -text] \
		    [expr {[winfo exists $w.dtl] ? [$w.dtl cget -text] : ""}]]
	    $w.ok invoke
	    return
	}
    }
    if {[incr ::tries] < 250} {
	after 20 pressOk
    }
}

# viewer --
#
#	Runs another viewer on the same display with the given arguments;
#	returns its exit status and what it wrote to standard error.

proc viewer {args} {
    set status 0
    if {[catch {exec $::host --gui {*}$args 2>@1} output options]} {
	set status [lindex [dict get $options -errorcode] 2]
	regsub {\nchild process exited abnormally$} $output {} output
    }
    list $status $output
}

# positions --
#
#	Returns the positions of the vertices of a model's text with one
#	object, as x y z triples.

proc positions {text} {
    set lines [split $text \n]
    set at [lsearch -regexp $lines {^numvert }]
    lrange $lines [expr {$at + 1}] [expr {$at + [lindex $lines $at 1]}]
}

# settle --
#
#	Lets the dialog draw what waits for a pause in typing.

proc settle {} {
    update
    after [expr {$::corrugo::S(pause) + 30}]
    update
}

# withinPane --
#
#	Tells whether every coordinate a view returns lies in its pane.

proc withinPane {view width height} {
    set d [::viewer::segments $view $width $height]
    foreach line [concat [dict get $d lines] [dict get $d selected]] {
	foreach {x y} $line {
	    if {$x < 0 || $x > $width || $y < 0 || $y > $height} {
		return "$x,$y outside"
	    }
	}
    }
    return ok
}

update

# The tests change and save the model: they work on a copy.
set work [file join $scratch roof.ac]
file copy $roof $work

test windowShowsModel {the window opens on the model, everything selected, with menus and views} -body {
    set state [::viewer::state]
    list [expr {[file normalize [dict get $state file]] eq [file normalize $roof]}] [wm title .] [dict get $state mode] [dict get $state selected] \
	    [dict get $state status] [expr {[llength [.views find withtag wire]] > 0}] \
	    [.menu.file entrycget "Save" -state] [.menu.edit entrycget 0 -state] \
	    [lmap i {0 1 2} {.menu entrycget $i -label}]
} -result {1 {roof.ac - corrugo-host} objects 1 {1 object, 369 vertices; 1 object selected} 1 normal disabled {File Edit Select}}

test toolsMenuFromPlugin {the Tools menu holds the plug-in's entry, which opens its dialog} -body {
    set label [.menu.tools entrycget 0 -label]
    menuEntry .menu.tools "Corrugo..."
    list $label [winfo exists .corrugo] [winfo ismapped .corrugo]
} -result {Corrugo... 1 1}

::viewer::Open $work

test viewsFitTheirPanes {each view of the model lies within its pane, with the widest extent filling it} -body {
    set d [::viewer::segments front 400 300]
    set xs {}
    foreach line [dict get $d selected] {
	foreach {x y} $line {
	    lappend xs $x
	}
    }
    list [withinPane front 400 300] [withinPane top 400 300] [withinPane side 400 300] \
	    [withinPane top 120 500] \
	    [expr {round([tcl::mathfunc::min {*}$xs])}] \
	    [expr {round([tcl::mathfunc::max {*}$xs])}]
} -result {ok ok ok ok 28 372}

test applyMatchesCommandLine {Apply moves the vertices exactly as the same command from the command line} -body {
    set frontBefore [::viewer::segments front 400 300]
    set ::viewer::S(status) "not refreshed"
    $f.axis2.z invoke
    fill $f.frequency 3
    fill $f.amplitude1 0.25
    fill $f.amplitude2 0.1
    fill $f.decay1 20
    fill $f.offset2 25
    $f.mode.add invoke
    $f.apply invoke
    update
    set fromViewer [saved applied.ac]
    set other [file join $scratch other.ac]
    exec $host $roof -c "qorvel_go [::corrugo::arguments]" -o $other
    list [::corrugo::arguments] [expr {$fromViewer eq [slurp $other]}] \
	    [expr {$fromViewer ne $original}] \
	    [expr {[::viewer::segments front 400 300] ne $frontBefore}] \
	    $::viewer::S(status) [.menu.edit entrycget 0 -label] \
	    [.menu.edit entrycget 0 -state] [winfo exists .corrugo]
} -result {{x y z 3 0.25 0.1 20 0 0 25 1 0} 1 1 1 {1 object, 369 vertices; 1 object selected} {Undo Corrugo} normal 1}

test redrawsCoalesce {a command that refreshes views and status twice redraws once} -body {
    set ::draws 0
    trace add execution ::viewer::Draw enter {apply {args {incr ::draws}}}
    qorvel_go x y n 2 0.1 0.1 0 0 0 0 1 0
    update
    ::viewer::undo
    update
    trace remove execution ::viewer::Draw enter {apply {args {incr ::draws}}}
    set ::draws
} -result 2

test undoRestoresFile {Edit > Undo gives back the file byte for byte} -body {
    menuEntry .menu.edit "Undo Corrugo"
    list [expr {[saved undone.ac] eq $original}] [.menu.edit entrycget 0 -label] \
	    [.menu.edit entrycget 0 -state] [::viewer::undo]
} -result {1 Undo disabled 0}

test drawingMatchesCommand {the dialog draws each wave exactly as Apply moves the vertices} -setup {
    set values [array get ::corrugo::S]
} -body {
    set seen [list [::corrugo::selection_extent x] [::corrugo::selection_extent z]]
    foreach {entry value} {frequency 3 amplitude1 0.25 amplitude2 0.1
	    decay1 20 decay2 50 offset1 10 offset2 25} {
	fill $f.$entry $value
    }
    $f.axis2.z invoke
    $f.mode.replace invoke
    foreach units {extent unit} {
	$f.units.$units invoke
	update
	set walk [::corrugo::Walk [::corrugo::Settings] [lindex [::corrugo::Extent x] 0]]
	set waves [list [::corrugo::Samples $walk 1] [::corrugo::Samples $walk 2]]
	$f.apply invoke
	update
	set moved [positions [saved drawn.ac]]
	::viewer::undo
	# The roof lies from x 0 to 10, its lowest vertex at the origin: a
	# vertex a sample's distance along is put on the drawn values.
	set same 0
	set differ {}
	foreach vertex $moved {
	    lassign $vertex x y z
	    set k [expr {$x / [dict get $walk span] * $::corrugo::S(segments)}]
	    if {$k != round($k) || $k > $::corrugo::S(segments)} continue
	    set k [expr {2 * round($k) + 1}]
	    set drawn [lmap wave $waves {::corrugo::Single [lindex $wave $k]}]
	    if {$drawn == [list [::corrugo::Single $y] [::corrugo::Single $z]]} {
		incr same
	    } else {
		lappend differ $vertex $drawn
	    }
	}
	lappend seen $same $differ
    }
    # Coming back to the dialog after changing the selection redraws it.
    focus -force .views
    ::viewer::select none
    update
    focus -force $f.frequency
    settle
    lappend seen [lindex [split $::corrugo::S(caption) \n] 1]
    lappend seen [::viewer::select vertices] [::corrugo::selection_extent y]
    ::viewer::select objects
    ::viewer::select all
    set seen
} -cleanup {
    array set ::corrugo::S $values
} -result {{0.0 10.0} {0.0 4.0} 369 {} 45 {} {Nothing is selected: the selection is taken as 1 model unit long.} {} {}}

# offPlot --
#
#	Compares the dots of a tag with the answer's coordinates, through
#	the drawn axes: returns the dots more than a thousandth of a pixel
#	from where the answer puts them.

proc offPlot {answer tag} {
    set c .corrugo.f.profile
    lassign [$c coords scale] left top - bottom
    set right [lindex [$c coords base] 2]
    lassign [dict get $answer extent] low high
    set values {}
    foreach {along b1 a1 b2 a2} [dict get $answer points] {
	lappend values $b1 $a1 $b2 $a2
    }
    set values [lsort -real $values]
    set lowest [lindex $values 0]
    set highest [lindex $values end]
    set off {}
    foreach {along b1 a1 b2 a2} [dict get $answer points] item [$c find withtag $tag] {
	set value [set [string map {before b after a} $tag]]
	lassign [$c coords $item] x0 y0 x1 y1
	set x [expr {$left + double($along - $low) / ($high - $low) * ($right - $left)}]
	set y [expr {$bottom - double($value - $lowest) / ($highest - $lowest) * ($bottom - $top)}]
	if {abs(($x0 + $x1) / 2.0 - $x) > 1e-3 || abs(($y0 + $y1) / 2.0 - $y) > 1e-3} {
	    lappend off [list $along $value [$c coords $item]]
	}
    }
    return $off
}

test previewMatchesApply {the dialog draws the selected vertices at the coordinates the plug-in's preview answers, and Apply then puts each where its "after" said, to the bit} -setup {
    set values [array get ::corrugo::S]
} -body {
    foreach {entry value} {frequency 3 amplitude1 0.25 amplitude2 0.1
	    decay1 20 decay2 50 offset1 10 offset2 25} {
	fill $f.$entry $value
    }
    $f.axis2.z invoke
    $f.mode.add invoke
    $f.units.extent invoke
    settle
    set answer [::corrugo::preview]
    set c $f.profile
    set counts [lmap tag {before1 after1 before2 after2} {llength [$c find withtag $tag]}]
    set off [lmap tag {before1 after1 before2 after2} {offPlot $answer $tag}]
    set before [positions [saved previewed.ac]]
    $f.apply invoke
    update
    set moved [positions [saved preview-applied.ac]]
    ::viewer::undo
    set same 0
    set differ {}
    foreach {along b1 a1 b2 a2} [dict get $answer points] old $before vertex $moved {
	set shown [lmap v [list $along $b1 $b2 $along $a1 $a2] {::corrugo::Single $v}]
	set real [lmap v [concat $old $vertex] {::corrugo::Single $v}]
	if {$shown == $real} {
	    incr same
	} else {
	    lappend differ $shown $real
	}
    }
    list [dict get $answer count] [dict get $answer extent] $counts $off $same $differ \
	    [lindex [split $::corrugo::S(caption) \n] 0]
} -cleanup {
    array set ::corrugo::S $values
} -result {369 {0 10} {369 369 369 369} {{} {} {} {}} 369 {} {The 369 selected vertices along X: grey as they are, in colour where Apply puts them.}}

test faultyCombinationShowsMessage {a combination the dialog only greys out is sent, shown in a warning box, and moves nothing} -body {
    set before [llength $::viewer::messages]
    $f.freqaxis.y invoke
    set greyed [$f.axis1.y instate disabled]
    set ::corrugo::S(axis1) y
    set box [answerBox {$f.apply invoke}]
    list $greyed $box [lrange $::viewer::messages $before end] \
	    [expr {[saved fault.ac] eq $original}] [dict get [::viewer::state] undo]
} -result {1 {::tk::icons::warning {Corrugo : cannot apply frequency and amplitude to same axis} {}} {{Corrugo : cannot apply frequency and amplitude to same axis}} 1 0}

test dialogClosesAndKeepsValues {Escape closes the dialog, which reopens once, with the last values} -body {
    set values [::corrugo::arguments]
    focus -force $f.frequency
    update
    event generate $f.frequency <KeyPress-Escape>
    update
    set closed [expr {![winfo exists .corrugo]}]
    menuEntry .menu.tools "Corrugo..."
    qorvel_dialog
    update
    list $closed [lsearch -all -inline [winfo children .] .corrugo*] \
	    [expr {[::corrugo::arguments] eq $values}] [$f.frequency get]
} -result {1 .corrugo 1 3}

test selectMenu {the Select menu changes the mode and the selection, shown in the status and the views} -body {
    menuEntry .menu.select "Vertices"
    set none [list [dict get [::viewer::state] mode] $::viewer::S(status) \
	    [llength [.views find withtag point]]]
    menuEntry .menu.select "Select All"
    set all [list $::viewer::S(status) [llength [.views find withtag point]] \
	    [llength [.views find withtag selected]]]
    menuEntry .menu.select "Select None"
    set box [answerBox {qorvel_go x y n 2 0.1 0.1 0 0 0 0 0 0}]
    menuEntry .menu.select "Objects"
    menuEntry .menu.select "Select All"
    list $none $all [lindex $box 1] $::viewer::S(status) $::viewer::S(mode)
} -result {{vertices {1 object, 369 vertices; 0 vertices selected} 0} {{1 object, 369 vertices; 369 vertices selected} 1107 1107} {Corrugo : no vertices selected} {1 object, 369 vertices; 1 object selected} objects}

test surfacesHighlighted {in surface mode only the selected surfaces are drawn as selected, and measured} -body {
    ::viewer::select surfaces
    set none [list [dict get [::viewer::segments top 400 300] selected] \
	    [::corrugo::selection_extent z]]
    ::viewer::select all
    set d [::viewer::segments top 400 300]
    set extent [::corrugo::selection_extent z]
    ::viewer::select objects
    ::viewer::select all
    list [llength [lindex $none 0]] [lindex $none 1] [llength [dict get $d selected]] \
	    [llength [dict get $d lines]] $extent
} -result {0 {} 320 0 {0.0 4.0}}

test largeModelThinned {beyond the limit only every n-th surface is drawn, and the status line says so} -body {
    set d [::viewer::segments front 400 300 100]
    set ::viewer::S(limit) 100
    ::viewer::Refresh
    set note $::viewer::S(note)
    set ::viewer::S(limit) 100000
    ::viewer::Refresh
    list [dict get $d every] [llength [dict get $d selected]] $note $::viewer::S(note)
} -result {13 25 {Too large to draw whole: 1 surface in 13 shown} {}}

test commandErrors {the viewer's commands name what is wrong} -body {
    lmap command {
	{::viewer::segments front 10}
	{::viewer::segments back 10 10}
	{::viewer::segments top 0 10}
	{::viewer::segments top 10 10 0}
	{::viewer::select sideways}
	{::viewer::select}
	{::viewer::undo now}
	{::viewer::state now}
	{::viewer::tools now}
	{::viewer::save a b}
	{::viewer::open}
	{::corrugo::selection_extent}
	{::corrugo::selection_extent w}
    } {
	catch $command message
	set message
    }
} -result {{wrong # args: should be "::viewer::segments view width height ?limit?"} {bad view "back": must be front, top, or side} {bad width "0": must be a number of pixels above 0} {bad limit "0": must be a whole number above 0} {bad selection "sideways": must be objects, surfaces, vertices, all, or none} {wrong # args: should be "::viewer::select objects|surfaces|vertices|all|none"} {wrong # args: should be "::viewer::undo"} {wrong # args: should be "::viewer::state"} {wrong # args: should be "::viewer::tools"} {wrong # args: should be "::viewer::save ?path?"} {wrong # args: should be "::viewer::open path"} {wrong # args: should be "::corrugo::selection_extent x|y|z"} {bad axis "w": must be x, y, or z}}

test brokenFileLosesNothing {a file that cannot be read shows where it is wrong and keeps the model} -body {
    set bad [file join $scratch broken.ac]
    spill $bad "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nnumvert 2\n0 0 0\n1 zero 0\n"
    set before [list [::viewer::state] [::viewer::segments top 400 300]]
    set box [answerBox {::viewer::Open $bad}]
    list [lrange $box 0 1] [string match "*broken.ac:7:*" [lindex $box 2]] \
	    [expr {[list [::viewer::state] [::viewer::segments top 400 300]] eq $before}]
} -result {{::tk::icons::error {The model was not opened.}} 1 1}

test failedSaveLosesNothing {a model that cannot be written shows why and keeps its file name} -body {
    set box [answerBox {::viewer::SaveAs [file join $scratch missing folder.ac]}]
    list [lrange $box 0 1] [string match "*missing*" [lindex $box 2]] \
	    [dict get [::viewer::state] file] [wm title .]
} -result [list {::tk::icons::error {The model was not saved.}} 1 $work {roof.ac - corrugo-host}]

test saveOverAnotherProgramsChange {Save never writes over a file another program changed since it was read, by either route} -body {
    set results {}
    foreach route {rename {in place}} {
	set file [file join $scratch changed.ac]
	file delete -force $file [file join $scratch second.ac]
	file copy $roof $file
	if {$route eq "in place"} {
	    file link -hard [file join $scratch second.ac] $file
	}
	::viewer::Open $file
	update
	qorvel_go x y n 2 0.1 0.1 0 0 0 0 0 0
	spill $file "AC3Db\nOBJECT poly\nkids 0\n"
	lappend results [catch ::viewer::save message] \
		[string match "*changed.ac: changed by another program while corrugo-host ran; nothing was written" $message] \
		[slurp $file]
    }
    ::viewer::Open $work
    update
    set results
} -result [list 1 1 "AC3Db\nOBJECT poly\nkids 0\n" 1 1 "AC3Db\nOBJECT poly\nkids 0\n"]

test openAndSaveAs {Open reads another model; Save As writes it to a new name, which Save then uses} -body {
    set fence [file join $scratch fence.ac]
    file copy [file join $::examples fence.ac] $fence
    ::viewer::Open $fence
    update
    set opened [list [wm title .] [dict get [::viewer::state] objects] \
	    [dict get [::viewer::state] selected]]
    set copy [file join $scratch fence-copy.ac]
    ::viewer::SaveAs $copy
    update
    qorvel_go x y n 2 0.1 0.1 0 0 0 0 0 0
    ::viewer::Save
    ::viewer::Open $work
    update
    list $opened [wm title .] [expr {[slurp $copy] ne [slurp $fence]}] \
	    [dict get [::viewer::state] file]
} -result [list {{fence.ac - corrugo-host} 4 1} {roof.ac - corrugo-host} 1 $work]

test farModelFitsAndMeasures {a model far from the origin fills each pane; a vertex that is not finite is left out of the drawing and of the selection's extent} -body {
    set far [file join $scratch far.ac]
    spill $far "AC3Db\nOBJECT poly\nnumvert 6\n90 49 -31\nnan 51 -25\n100 50 -30\n110 52 -20\n105 51 -25\ninf 51 -25\nnumsurf 1\nSURF 0x10\nmat 0\nrefs 3\n2 0 0\n3 0 0\n4 0 0\nkids 0\n"
    ::viewer::Open $far
    update
    set xs {}
    foreach {x y} [lindex [dict get [::viewer::segments front 400 300] selected] 0] {
	lappend xs [expr {round($x)}]
    }
    set seen [list [withinPane front 400 300] [withinPane top 400 300] \
	    [withinPane side 400 300] [lsort -integer -unique $xs] \
	    [lmap axis {x y z} {::corrugo::selection_extent $axis}]]
    # Its one surface, which leaves out the first vertex.
    ::viewer::select surfaces
    ::viewer::select all
    lappend seen [lmap axis {x y z} {::corrugo::selection_extent $axis}]
    ::viewer::select objects
    ::viewer::Open $work
    update
    set seen
} -result {ok ok ok {200 286 372} {{90.0 110.0} {49.0 52.0} {-31.0 -20.0}} {{100.0 110.0} {50.0 52.0} {-30.0 -20.0}}}

test scriptErrorsReported {an error in the window's own script while the model is redrawn is reported in the background, not lost} -body {
    rename ::viewer::Schedule scheduleAsItWas
    proc ::viewer::Schedule {} {error "cannot draw"}
    set before [llength $::bgerrors]
    qorvel_go x y n 2 0.1 0.1 0 0 0 0 0 0
    update
    ::viewer::undo
    rename ::viewer::Schedule {}
    rename scheduleAsItWas ::viewer::Schedule
    update
    set reported [lrange $::bgerrors $before end]
    set ::bgerrors [lrange $::bgerrors 0 [expr {$before - 1}]]
    lsort -unique $reported
} -result {{cannot draw}}

test saveRefusesWhatTheProgramRunsOn {Save never writes over the plug-in the viewer runs on} -body {
    set plugin [file join $scratch plug-in corrugo.p]
    file mkdir [file dirname $plugin]
    foreach name {corrugo.p corrugo.tcl} {
	file copy [file join [file dirname $::host] $name] [file dirname $plugin]
    }
    set before [slurp $plugin]
    set run [viewer $roof --plugin $plugin \
	    -c [string map [list PATH [list $plugin]] {
		puts [list [catch {::viewer::save PATH} message] $message]
	    }] -c {exit 0}]
    list $run [expr {[slurp $plugin] eq $before}]
} -result [list [list 0 [list 1 "[file join $scratch plug-in corrugo.p]: cannot write: it is the plug-in file"]] 1]

test startingWithoutModel {without a model the viewer starts empty, with nothing to save} -body {
    viewer -c {puts [list [dict get [::viewer::state] vertices] \
	    [.menu.file entrycget "Save" -state] [catch ::viewer::save message] $message]
	exit 0}
} -result {0 {0 disabled 1 {no model file to save: open one first}}}

test exitStatuses {Quit and the close box exit with 0, a failing command with 1, a name that matches no object with 2} -body {
    list [viewer $roof -c ::viewer::Quit] \
	    [viewer $roof -c {uplevel #0 [wm protocol . WM_DELETE_WINDOW]}] \
	    [viewer $roof -c {set x 1} -c {error "no such thing"} -c {exit 0}] \
	    [viewer $roof --in nowhere]
} -result [list {0 {}} {0 {}} {1 {corrugo-host: -c error "no such thing": no such thing}} \
	[list 2 "corrugo-host: $roof: no object named \"nowhere\""]]

test unreadableModelOpensEmpty {a model on the command line that cannot be read opens an empty viewer that says why in a box} -body {
    set report {after 300 {
	set w .__tk__messagebox
	puts [list [winfo ismapped $w] [$w.msg cget -text] [$w.dtl cget -text] \
		[dict get [::viewer::state] vertices] [dict get [::viewer::state] file]]
	exit 0
    }}
    set broken [viewer [file join $scratch broken.ac] -c $report]
    set missing [viewer [file join $scratch nowhere.ac] --in roof -c $report]
    list [lindex $broken 0] [string match "*broken.ac:7: expected*" [lindex $broken 1]] \
	    [lindex [split [lindex $broken 1] \n] end] \
	    [lindex $missing 0] [string match "*nowhere.ac: cannot open: No such file*" $missing]
} -result [list 0 1 [list 1 {The model was not opened.} \
	"[file join $scratch broken.ac]:7: expected 3 numbers for a vertex, found \"1 zero 0\"" 0 {}] \
	0 1]

test noBackgroundErrors {no binding or callback raised an error} -body {
    set ::bgerrors
} -result {}

file delete -force $scratch

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
