// Plays our engine against a peer engine through UCI with a real clock.
// chess.js referees every move and decides the end of each game.
//
//   node match.js --ours "../../build/vesk -use_hce" --peer /usr/games/glaurung
//                 --games 100 --tc 5+0.05 --concurrency 2 --pgn games.pgn
//
// Reports games, score, illegal moves, time losses, crashes/hangs, the lowest
// clock our engine was left with, and our move times.
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const { Chess } = require('chess.js');

const args = Object.fromEntries(
  process.argv.slice(2).reduce((acc, a, i, all) => (a.startsWith('--') ? [...acc, [a.slice(2), all[i + 1]]] : acc), []));
const ours = (args.ours || '../../build/vesk -use_hce').split(' ');
const peer = (args.peer || '/usr/games/glaurung').split(' ');
const games = Number(args.games || 10);
const [baseS, incS] = (args.tc || '5+0.05').split('+').map(Number);
const concurrency = Number(args.concurrency || 1);
const movestogo = args.movestogo ? Number(args.movestogo) : 0;
const peerOptions = (args['peer-options'] || 'OwnBook=false,Threads=1').split(',').filter(Boolean);
const maxPlies = 400;

// Balanced opening lines; each is played twice with colours swapped.
const openings = [
  'e2e4 e7e5 g1f3 b8c6 f1b5 a7a6', 'e2e4 c7c5 g1f3 d7d6 d2d4 c5d4', 'd2d4 d7d5 c2c4 e7e6 b1c3 g8f6',
  'd2d4 g8f6 c2c4 g7g6 b1c3 f8g7', 'e2e4 e7e6 d2d4 d7d5 b1c3 f8b4', 'e2e4 c7c6 d2d4 d7d5 e4e5 c8f5',
  'c2c4 e7e5 b1c3 g8f6 g1f3 b8c6', 'g1f3 d7d5 g2g3 g8f6 f1g2 c7c6', 'e2e4 e7e5 g1f3 g8f6 f3e5 d7d6',
  'd2d4 g8f6 c2c4 e7e6 g1f3 b7b6', 'e2e4 d7d6 d2d4 g8f6 b1c3 g7g6', 'e2e4 c7c5 b1c3 b8c6 g2g3 g7g6',
  'd2d4 d7d5 c2c4 c7c6 g1f3 g8f6', 'e2e4 e7e5 f1c4 g8f6 d2d3 c7c6', 'c2c4 c7c5 g1f3 g8f6 b1c3 b8c6',
  'd2d4 f7f5 g2g3 g8f6 f1g2 g7g6', 'e2e4 d7d5 e4d5 d8d5 b1c3 d5a5', 'e2e4 g7g6 d2d4 f8g7 b1c3 d7d6',
  'd2d4 g8f6 g1f3 e7e6 c1g5 c7c5', 'b2b3 e7e5 c1b2 b8c6 e2e3 g8f6',
];

class Engine {
  constructor(cmd, name) {
    this.name = name;
    this.proc = spawn(cmd[0], cmd.slice(1), { stdio: ['pipe', 'pipe', 'ignore'] });
    this.buffer = '';
    this.waiters = [];
    this.dead = false;
    this.proc.on('exit', () => {
      this.dead = true;
      this.waiters.forEach((w) => w.reject(new Error('exited')));
      this.waiters = [];
    });
    this.proc.stdin.on('error', () => {});
    this.proc.stdout.on('data', (d) => {
      this.buffer += d.toString();
      let nl;
      while ((nl = this.buffer.indexOf('\n')) >= 0) {
        const line = this.buffer.slice(0, nl).trim();
        this.buffer = this.buffer.slice(nl + 1);
        this.waiters = this.waiters.filter((w) => {
          if (!line.startsWith(w.prefix)) return true;
          clearTimeout(w.timer);
          w.resolve(line);
          return false;
        });
      }
    });
  }
  send(text) {
    if (!this.dead) this.proc.stdin.write(text + '\n');
  }
  waitFor(prefix, ms) {
    return new Promise((resolve, reject) => {
      if (this.dead) return reject(new Error('exited'));
      const w = { prefix, resolve, reject };
      w.timer = setTimeout(() => {
        this.waiters = this.waiters.filter((x) => x !== w);
        reject(new Error('timeout'));
      }, ms);
      this.waiters.push(w);
    });
  }
  async start(options) {
    this.send('uci');
    await this.waitFor('uciok', 10000);
    for (const o of options) {
      const [k, v] = o.split('=');
      this.send(`setoption name ${k} value ${v}`);
    }
    this.send('isready');
    await this.waitFor('readyok', 10000);
  }
  quit() {
    this.send('quit');
    setTimeout(() => this.proc.kill('SIGKILL'), 2000).unref();
  }
}

const stats = { games: 0, wins: 0, draws: 0, losses: 0, illegal: 0, timeLosses: 0, crashes: 0, minClock: Infinity,
                moveTimes: [], peerIllegal: 0, peerTimeLosses: 0, peerCrashes: 0, pgn: [], reasons: {} };

async function playGame(index) {
  const opening = openings[Math.floor(index / 2) % openings.length].split(' ');
  const oursWhite = index % 2 === 0;
  const engines = { ours: new Engine(ours, 'Vesk'), peer: new Engine(peer, 'peer') };
  let result = '1/2-1/2', reason = '';
  const chess = new Chess();
  for (const m of opening) chess.move({ from: m.slice(0, 2), to: m.slice(2, 4) });
  const moves = [...opening];
  const clock = { w: baseS * 1000, b: baseS * 1000 };
  const ourTimes = [];
  try {
    await engines.ours.start(['Threads=1', 'Ponder=false']);
    await engines.peer.start(peerOptions);
    for (const e of Object.values(engines)) e.send('ucinewgame');
    while (true) {
      if (chess.isGameOver() || moves.length >= maxPlies) {
        if (chess.isCheckmate()) result = chess.turn() === 'w' ? '0-1' : '1-0';
        reason = chess.isCheckmate() ? 'mate' : chess.isStalemate() ? 'stalemate' : chess.isThreefoldRepetition()
          ? 'repetition' : chess.isInsufficientMaterial() ? 'material' : moves.length >= maxPlies ? 'length' : 'fifty';
        break;
      }
      const side = chess.turn();
      const mover = (side === 'w') === oursWhite ? engines.ours : engines.peer;
      mover.send(`position startpos moves ${moves.join(' ')}`);
      let go = `go wtime ${Math.max(0, Math.round(clock.w))} btime ${Math.max(0, Math.round(clock.b))}` +
               ` winc ${Math.round(incS * 1000)} binc ${Math.round(incS * 1000)}`;
      if (movestogo) go += ` movestogo ${movestogo - (((moves.length - opening.length) >> 1) % movestogo)}`;
      const started = process.hrtime.bigint();
      mover.send(go);
      let line;
      try {
        line = await mover.waitFor('bestmove', clock[side] + 5000);
      } catch (err) {
        if (mover === engines.ours) stats.crashes++; else stats.peerCrashes++;
        result = side === 'w' ? '0-1' : '1-0';
        reason = `${mover.name} ${err.message}`;
        break;
      }
      const used = Number(process.hrtime.bigint() - started) / 1e6;
      clock[side] -= used;
      if (mover === engines.ours) {
        ourTimes.push(used);
        stats.minClock = Math.min(stats.minClock, clock[side]);
      }
      if (clock[side] < 0) {
        if (mover === engines.ours) stats.timeLosses++; else stats.peerTimeLosses++;
        result = side === 'w' ? '0-1' : '1-0';
        reason = `${mover.name} lost on time`;
        break;
      }
      clock[side] += incS * 1000;
      // Repeating controls: the base time again after every movestogo moves.
      if (movestogo && ((moves.length - opening.length) >> 1) % movestogo === movestogo - 1 && side === 'b')
        clock.w += baseS * 1000, clock.b += baseS * 1000;
      const text = line.split(/\s+/)[1] || '';
      let ok = false;
      try {
        ok = !!chess.move({ from: text.slice(0, 2), to: text.slice(2, 4), promotion: text[4] });
      } catch (err) {
        ok = false;
      }
      if (!ok) {
        if (mover === engines.ours) stats.illegal++; else stats.peerIllegal++;
        result = side === 'w' ? '0-1' : '1-0';
        reason = `${mover.name} illegal move ${text}`;
        break;
      }
      moves.push(text);
    }
  } catch (err) {
    reason = `setup: ${err.message}`;
    stats.crashes++;
  }
  engines.ours.quit();
  engines.peer.quit();
  const ourScore = result === '1/2-1/2' ? 0.5 : (result === '1-0') === oursWhite ? 1 : 0;
  stats.games++;
  if (ourScore === 1) stats.wins++; else if (ourScore === 0) stats.losses++; else stats.draws++;
  stats.reasons[reason.split(' ').slice(0, 3).join(' ')] = (stats.reasons[reason.split(' ').slice(0, 3).join(' ')] || 0) + 1;
  stats.moveTimes.push(ourTimes);
  stats.pgn.push(`[Event "match"]\n[White "${oursWhite ? 'Vesk' : 'peer'}"]\n[Black "${oursWhite ? 'peer' : 'Vesk'}"]\n` +
                 `[Result "${result}"]\n[Termination "${reason}"]\n\n${chess.pgn({ maxWidth: 80 }).replace(/\[.*\]\n/g, '').trim()} ${result}\n`);
  process.stderr.write(`game ${index + 1}: ${result} (${reason}), Vesk ${oursWhite ? 'white' : 'black'}\n`);
}

async function main() {
  let next = 0;
  const workers = Array.from({ length: concurrency }, async () => {
    while (next < games) await playGame(next++);
  });
  await Promise.all(workers);
  const all = stats.moveTimes.flat();
  const points = stats.wins + stats.draws / 2;
  console.log(`games=${stats.games} tc=${baseS}+${incS}${movestogo ? ` movestogo=${movestogo}` : ''} peer=${peer.join(' ')}`);
  console.log(`score ${points}/${stats.games} (+${stats.wins} =${stats.draws} -${stats.losses})`);
  console.log(`illegal moves ${stats.illegal}, time losses ${stats.timeLosses}, crashes/hangs ${stats.crashes}` +
              ` (peer: ${stats.peerIllegal}, ${stats.peerTimeLosses}, ${stats.peerCrashes})`);
  console.log(`lowest clock left after our move ${(stats.minClock / 1000).toFixed(3)} s; our moves ${all.length},` +
              ` mean ${(all.reduce((a, b) => a + b, 0) / Math.max(1, all.length) / 1000).toFixed(3)} s`);
  console.log(`endings ${JSON.stringify(stats.reasons)}`);
  if (args['times-of-game']) {
    const g = stats.moveTimes[Number(args['times-of-game'])] || [];
    console.log(`move times of game ${args['times-of-game']} (s): ${g.map((t) => (t / 1000).toFixed(2)).join(' ')}`);
  }
  if (args.pgn) fs.writeFileSync(args.pgn, stats.pgn.join('\n'));
}

main();
